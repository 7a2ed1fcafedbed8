#include "link/deviceinfo.h"

#include <QDataStream>

namespace {

void writeText(QDataStream &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    out.writeRawData(utf8.constData(), utf8.size());
    out << quint8(0);
}

bool readText(const QByteArray &bytes, int *offset, QString *text)
{
    const int end = bytes.indexOf('\0', *offset);
    if (end < 0)
        return false;
    *text = QString::fromUtf8(bytes.mid(*offset, end - *offset));
    *offset = end + 1;
    return true;
}

} // namespace

QByteArray DeviceInfo::toBytes() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    writeText(out, name);
    out << serial << dhcp << ip << mask << gateway << storageSize << configPresent << channel;
    writeText(out, password);
    out << quint16(0);
    return bytes;
}

bool DeviceInfo::fromBytes(const QByteArray &bytes, DeviceInfo *info)
{
    int offset = 0;
    if (!readText(bytes, &offset, &info->name))
        return false;
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    in.skipRawData(offset);
    in >> info->serial >> info->dhcp >> info->ip >> info->mask >> info->gateway >> info->storageSize
        >> info->configPresent >> info->channel;
    if (in.status() != QDataStream::Ok)
        return false;
    offset = int(in.device()->pos());
    if (!readText(bytes, &offset, &info->password))
        return false;
    return bytes.size() >= offset + 2;
}

QString DeviceInfo::ipv4Text(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4").arg(address >> 24).arg(address >> 16 & 0xFF).arg(address >> 8 & 0xFF).arg(address & 0xFF);
}
