#include "wire/deviceinfo.h"

#include "wire/wirestream.h"

#include <QDataStream>

QByteArray DeviceInfo::toBytes() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    WireStream::writeTerminated(out, name.toUtf8());
    out << serial << dhcp << ip << mask << gateway << storageSize << configPresent << channel;
    WireStream::writeTerminated(out, password.toUtf8());
    out << quint16(0);
    return bytes;
}

bool DeviceInfo::fromBytes(const QByteArray &bytes, DeviceInfo *info)
{
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    QByteArray name;
    QByteArray password;
    quint16 end = 0;
    if (!WireStream::readTerminated(in, &name))
        return false;
    in >> info->serial >> info->dhcp >> info->ip >> info->mask >> info->gateway >> info->storageSize
        >> info->configPresent >> info->channel;
    if (!WireStream::readTerminated(in, &password))
        return false;
    in >> end;
    info->name = QString::fromUtf8(name);
    info->password = QString::fromUtf8(password);
    return in.status() == QDataStream::Ok;
}

QString DeviceInfo::ipv4Text(quint32 address)
{
    return QStringLiteral("%1.%2.%3.%4").arg(address >> 24).arg(address >> 16 & 0xFF).arg(address >> 8 & 0xFF).arg(address & 0xFF);
}
