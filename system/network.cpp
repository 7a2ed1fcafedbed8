#include "system/network.h"

#include <QDebug>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSettings>

#include "system/networkconfigurator.h"
#include "system/networksettings.h"

Network::Network(const QString &settingsPath, QObject *parent)
    : QObject(parent)
    , m_networkSettings(new NetworkSettings(settingsPath, this))
    , m_networkConfigurator(new NetworkConfigurator(m_networkSettings, this))
{
    connect(m_networkConfigurator, &NetworkConfigurator::networkSettingsReloaded, this,
            &Network::onNetworkSettingsReloaded);
}

void Network::setSystemManager(SystemManager *systemManager)
{
    m_networkConfigurator->setSystemManager(systemManager);
}

QString Network::getIp() const
{
    return m_networkSettings->getIp();
}

QString Network::getGateway() const
{
    return m_networkSettings->getGateway();
}

QString Network::getSubnetMaskString() const
{
    return m_networkSettings->getSubnetMask();
}

void Network::setIp(const QString &ip)
{
    m_networkSettings->setIp(ip);
}

void Network::setGateway(const QString &gateway)
{
    m_networkSettings->setGateway(gateway);
}

uint8_t Network::getSubnetMask() const
{
    return maskToCidr(m_networkSettings->getSubnetMask());
}

void Network::setSubnetMask(uint8_t prefixLength)
{
    m_networkSettings->setSubnetMask(cidrToMask(prefixLength));
}

bool Network::getDhcp() const
{
    return m_networkSettings->getDhcp();
}

void Network::setDhcp(bool dhcp)
{
    m_networkSettings->setDhcp(dhcp);
}

QString Network::cidrToMask(uint8_t prefixLength)
{
    quint32 mask = 0;
    if (prefixLength >= 32)
        mask = 0xFFFFFFFFu;
    else if (prefixLength > 0)
        mask = 0xFFFFFFFFu << (32 - prefixLength);
    return QHostAddress(mask).toString();
}

uint8_t Network::maskToCidr(const QString &mask)
{
    // Each part is scored on its own; a non-contiguous mask is not rejected.
    int prefixLength = 0;
    const QStringList parts = mask.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    for (const QString &part : parts) {
        switch (part.toInt()) {
        case 255: prefixLength += 8; break;
        case 254: prefixLength += 7; break;
        case 252: prefixLength += 6; break;
        case 248: prefixLength += 5; break;
        case 240: prefixLength += 4; break;
        case 224: prefixLength += 3; break;
        case 192: prefixLength += 2; break;
        case 128: prefixLength += 1; break;
        default: break;
        }
    }
    return static_cast<uint8_t>(prefixLength);
}

void Network::syncNetworkFile()
{
    m_networkSettings->sync();
}

void Network::adoptInterfaceFile()
{
    QFile file(QString::fromLatin1(NetworkConfigurator::interfaceFilePath));
    NetworkConfigurator::Stanza stanza;
    if (!file.open(QIODevice::ReadOnly)
        || !NetworkConfigurator::parseInterfaceFile(file.read(64 * 1024), &stanza))
        return;
    if (stanza.modeWord == QLatin1String("dhcp")) {
        if (getDhcp())
            return;
    } else if (stanza.modeWord == QLatin1String("static")) {
        if (!getDhcp() && getIp() == stanza.ip && getSubnetMaskString() == stanza.mask
            && getGateway() == stanza.gateway)
            return;
        m_networkSettings->setIp(stanza.ip);
        m_networkSettings->setSubnetMask(stanza.mask);
        m_networkSettings->setGateway(stanza.gateway);
    } else {
        return;
    }
    qDebug() << "Network settings taken from the interface file:" << stanza.modeWord << stanza.ip;
    m_networkSettings->setDhcp(stanza.modeWord == QLatin1String("dhcp"));
    m_networkSettings->sync();
}

bool Network::reloadNetwork()
{
    return m_networkConfigurator->reloadNetwork();
}

void Network::updateSettings() const
{
    const NetworkTuple live = m_networkConfigurator->getNetworkDataAfterRefresh();
    if (!std::get<0>(live).isEmpty()) {
        m_networkSettings->updateFromTuple(live);
        m_networkSettings->sync();
        return;
    }
    qDebug() << "Empty network settings --> attempt to look up the service file...";
    emit emptyNetworkConfigurationRead();
}

void Network::onNetworkSettingsReloaded()
{
    emit networkRefreshed();
}

int systemNetworkReload(QSettings &settings)
{
    const QString mode = settings.value(NetworkSettings::keyMode).toString();
    const QByteArray content = NetworkConfigurator::interfaceFileContent(
        mode, mode == QLatin1String("static"), settings.value(NetworkSettings::keyIp).toString(),
        settings.value(NetworkSettings::keyMask).toString(),
        settings.value(NetworkSettings::keyRoute).toString());
    if (!NetworkConfigurator::writeInterfaceFile(content))
        return -1;
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sync")});
    return 0;
}
