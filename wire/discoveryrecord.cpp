#include "wire/discoveryrecord.h"

#include "wire/wirestream.h"

#include <QDataStream>

namespace {

// Cuts at a character boundary so the tool never gets half of a multi-byte character.
QByteArray utf8Prefix(const QString &text, int size)
{
    const QByteArray utf8 = text.toUtf8();
    int cut = qMin(size, utf8.size());
    if (cut < utf8.size()) {
        while (cut > 0 && (quint8(utf8.at(cut)) & 0xC0) == 0x80)
            --cut;
    }
    return utf8.left(cut);
}

} // namespace

QByteArray DiscoveryRecord::toBytes() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    // The leading zeros and the closing 20 are constants the configuration tool expects.
    out << quint8(0) << quint16(0) << quint8(0);
    WireStream::writeField(out, utf8Prefix(deviceName, NameSize), NameSize);
    WireStream::writeField(out, utf8Prefix(serialNumber, SerialSize), SerialSize);
    out << channel << quint16(20);
    return bytes;
}

bool DiscoveryRecord::fromBytes(const QByteArray &bytes, DiscoveryRecord *record)
{
    QDataStream in(bytes);
    in.skipRawData(4);
    const QByteArray name = WireStream::readText(in, NameSize);
    const QByteArray serial = WireStream::readText(in, SerialSize);
    quint8 channel = 0;
    quint16 end = 0;
    in >> channel >> end;
    if (in.status() != QDataStream::Ok)
        return false;
    record->deviceName = QString::fromUtf8(name);
    record->serialNumber = QString::fromUtf8(serial);
    record->channel = channel;
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
