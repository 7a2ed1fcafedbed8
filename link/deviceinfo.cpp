#include "link/deviceinfo.h"

#include <QDataStream>
#include <QFile>
#include <QHostAddress>
#include <QSettings>
#include <QStringList>

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

// An INI value holding a comma comes back as a list; the name or password meant the whole text.
QString settingText(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
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

DeviceInfo DeviceInfo::fromSettings(const QString &settingsFile, const QString &stickConfigFile,
                                    qint64 storageSize)
{
    DeviceInfo info;
    info.storageSize = storageSize;
    if (QFile::exists(stickConfigFile)) {
        const QSettings stick(stickConfigFile, QSettings::IniFormat);
        info.configPresent = 1;
        info.name = settingText(stick, QStringLiteral("devname"));
        info.password = settingText(stick, QStringLiteral("password"));
        info.channel = quint16(stick.value(QStringLiteral("channel"), 1).toUInt());
    }
    const QSettings device(settingsFile, QSettings::IniFormat);
    info.dhcp = device.value(QStringLiteral("NET_MODE")).toString() == QLatin1String("dhcp") ? 1 : 0;
    info.ip = ipv4Number(device.value(QStringLiteral("NET_IP")).toString());
    info.mask = maskBits(device.value(QStringLiteral("NET_MASK")).toString());
    info.gateway = ipv4Number(device.value(QStringLiteral("NET_ROUTE")).toString());
    info.serial = device.value(QStringLiteral("SN"), 0).toUInt();
    return info;
}

quint32 DeviceInfo::ipv4Number(const QString &address)
{
    QHostAddress host;
    if (!host.setAddress(address) || host.protocol() != QAbstractSocket::IPv4Protocol)
        return 0;
    return host.toIPv4Address();
}

quint8 DeviceInfo::maskBits(const QString &mask)
{
    return quint8(qPopulationCount(ipv4Number(mask)));
}

QString DeviceInfo::ipv4Text(quint32 address)
{
    return QHostAddress(address).toString();
}
