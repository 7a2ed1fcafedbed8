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
    return m_settings->value(keyIp).toString();
}

QString NetworkSettings::getGateway() const
{
    return m_settings->value(keyRoute).toString();
}

QString NetworkSettings::getSubnetMask() const
{
    return m_settings->value(keyMask).toString();
}

void NetworkSettings::setIp(const QString &ip) const
{
    m_settings->setValue(keyIp, ip);
}

void NetworkSettings::setGateway(const QString &gateway) const
{
    m_settings->setValue(keyRoute, gateway);
}

void NetworkSettings::setSubnetMask(const QString &mask) const
{
    m_settings->setValue(keyMask, mask);
}

bool NetworkSettings::getDhcp() const
{
    return m_settings->value(keyMode).toString() == QLatin1String("dhcp");
}

void NetworkSettings::setDhcp(bool dhcp) const
{
    m_settings->setValue(keyMode, dhcp ? QStringLiteral("dhcp") : QStringLiteral("static"));
}

bool NetworkSettings::sync() const
{
    return AtomicFile::commitSettings(m_settings->fileName());
}

void NetworkSettings::updateFromTuple(const NetworkTuple &values)
{
    setIp(textUpToNul(std::get<0>(values)));
    setGateway(textUpToNul(std::get<1>(values)));
    setSubnetMask(textUpToNul(std::get<2>(values)));
}
