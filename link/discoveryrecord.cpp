#include "link/discoveryrecord.h"

#include <QDataStream>

namespace {

// Cuts at a character boundary so the tool never gets half of a multi-byte character.
QByteArray fixedField(const QString &text, int size)
{
    const QByteArray utf8 = text.toUtf8();
    int cut = qMin(size, utf8.size());
    if (cut < utf8.size()) {
        while (cut > 0 && (quint8(utf8.at(cut)) & 0xC0) == 0x80)
            --cut;
    }
    QByteArray bytes = utf8.left(cut);
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

QString textField(const QByteArray &bytes, int offset, int size)
{
    const QByteArray field = bytes.mid(offset, size);
    const int end = field.indexOf('\0');
    return QString::fromUtf8(end < 0 ? field : field.left(end));
}

} // namespace

QByteArray DiscoveryRecord::toBytes() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::BigEndian);
    // The leading zeros and the closing 20 are constants the configuration tool expects.
    out << quint8(0) << quint16(0) << quint8(0);
    const QByteArray name = fixedField(deviceName, NameSize);
    const QByteArray serial = fixedField(serialNumber, SerialSize);
    out.writeRawData(name.constData(), name.size());
    out.writeRawData(serial.constData(), serial.size());
    out << channel << quint16(20);
    return bytes;
}

bool DiscoveryRecord::fromBytes(const QByteArray &bytes, DiscoveryRecord *record)
{
    if (bytes.size() < Size)
        return false;
    record->deviceName = textField(bytes, 4, NameSize);
    record->serialNumber = textField(bytes, 4 + NameSize, SerialSize);
    record->channel = quint8(bytes.at(4 + NameSize + SerialSize));
    return true;
}

QByteArray DiscoveryRecord::request()
{
    return QByteArray(1, '\0');
}

bool DiscoveryRecord::isRequest(const QByteArray &datagram)
{
    return datagram.isEmpty() || datagram.at(0) == '\0';
}
