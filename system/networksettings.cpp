#include "system/networksettings.h"

#include <QSettings>

#include "system/atomicfile.h"

namespace {

// Wire and tool values may carry zero padding; only the text before it counts.
QString textUpToNul(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes.constData(), int(qstrnlen(bytes.constData(), uint(bytes.size()))));
}

} // namespace

NetworkSettings::NetworkSettings(const QString &path, QObject *parent)
    : QObject(parent)
    , m_settings(new QSettings(path, QSettings::IniFormat, this))
{
}

QString NetworkSettings::getIp() const
{
    return value(keyIp);
}

QString NetworkSettings::getGateway() const
{
    return value(keyRoute);
}

QString NetworkSettings::getSubnetMask() const
{
    return value(keyMask);
}

void NetworkSettings::setIp(const QString &ip) const
{
    set(keyIp, ip);
}

void NetworkSettings::setGateway(const QString &gateway) const
{
    set(keyRoute, gateway);
}

void NetworkSettings::setSubnetMask(const QString &mask) const
{
    set(keyMask, mask);
}

bool NetworkSettings::getDhcp() const
{
    return value(keyMode) == QLatin1String("dhcp");
}

void NetworkSettings::setDhcp(bool dhcp) const
{
    set(keyMode, dhcp ? QStringLiteral("dhcp") : QStringLiteral("static"));
}

QString NetworkSettings::value(const char *key) const
{
    const QString name = QLatin1String(key);
    return m_pending.contains(name) ? m_pending.value(name).toString() : m_settings->value(name).toString();
}

// Kept here, not in the QSettings, whose own write of its file could lose it on a full disk.
void NetworkSettings::set(const char *key, const QString &value) const
{
    m_pending.insert(QLatin1String(key), value);
}

bool NetworkSettings::sync() const
{
    if (!AtomicFile::storeSettings(m_settings->fileName(), m_pending))
        return false;
    m_pending.clear();
    return true;
}

void NetworkSettings::updateFromTuple(const NetworkTuple &values)
{
    setIp(textUpToNul(std::get<0>(values)));
    setGateway(textUpToNul(std::get<1>(values)));
    setSubnetMask(textUpToNul(std::get<2>(values)));
}
