#include "system/networkconfigurator.h"

#include "system/atomicfile.h"

#include <QDebug>
#include "system/networkprocessoutputparser.h"

NetworkConfigurator::NetworkConfigurator(NetworkSettings *networkSettings, QObject *parent)
    : QObject(parent)
    , m_networkSettings(networkSettings)
    , m_outputParser(new NetworkProcessOutputParser(this))
{
}

void NetworkConfigurator::setSystemManager(SystemManager *systemManager)
{
    m_outputParser->setSystemManager(systemManager);
}

bool NetworkConfigurator::reloadNetwork()
{
    return refreshConfiguration();
}

bool NetworkConfigurator::refreshConfiguration()
{
    const bool dhcp = m_networkSettings->getDhcp();
    const QByteArray content = interfaceFileContent(
        dhcp ? QStringLiteral("dhcp") : QStringLiteral("static"), !dhcp, m_networkSettings->getIp(),
        m_networkSettings->getSubnetMask(), m_networkSettings->getGateway());
    // A configuration that is not in force is not kept either: the tool reads the one that is.
    if (!writeInterfaceFile(content)) {
        m_networkSettings->discard();
        return false;
    }
    // The settings follow the interface file onto the disk before anyone hears of the change; should
    // they fail, the start-up takes them from the interface file, which is in force.
    if (!m_networkSettings->sync())
        qDebug() << "Network settings not stored; the interface file holds them";
    emit networkSettingsReloaded();
    return true;
}

NetworkTuple NetworkConfigurator::getNetworkDataAfterRefresh() const
{
    const NetInfo info = m_outputParser->getNetworkInfo();
    return NetworkTuple(info.ip, info.gateway, info.netmask);
}

QByteArray NetworkConfigurator::interfaceFileContent(const QString &modeWord, bool staticLines,
                                                     const QString &ip, const QString &mask,
                                                     const QString &gateway)
{
    QByteArray content = "auto eth0\n";
    content += "iface eth0 inet " + modeWord.toUtf8() + '\n';
    if (staticLines) {
        content += "address " + ip.toUtf8() + '\n';
        content += "netmask " + mask.toUtf8() + '\n';
        content += "gateway " + gateway.toUtf8() + '\n';
        // The gateway doubles as the name server.
        content += "dns-nameservers " + gateway.toUtf8() + '\n';
    }
    return content;
}

bool NetworkConfigurator::parseInterfaceFile(const QByteArray &content, Stanza *stanza)
{
    // Read as the networking service reads it: options may be indented, words set apart by any blanks.
    QStringList lines;
    for (const QString &line : QString::fromUtf8(content).split(QLatin1Char('\n'))) {
        if (!line.simplified().isEmpty())
            lines << line.simplified();
    }
    if (lines.size() < 2 || lines.at(0) != QLatin1String("auto eth0")
        || !lines.at(1).startsWith(QLatin1String("iface eth0 inet ")))
        return false;
    *stanza = Stanza();
    stanza->modeWord = lines.at(1).mid(16);
    for (const QString &line : lines.mid(2)) {
        const QString word = line.section(QLatin1Char(' '), 0, 0);
        const QString value = line.section(QLatin1Char(' '), 1);
        if (word == QLatin1String("address"))
            stanza->ip = value;
        else if (word == QLatin1String("netmask"))
            stanza->mask = value;
        else if (word == QLatin1String("gateway"))
            stanza->gateway = value;
    }
    return true;
}

bool NetworkConfigurator::writeInterfaceFile(const QByteArray &content)
{
    // A power cut or a full disk must never leave the networking service a half-written stanza.
    return AtomicFile::write(QString::fromLatin1(interfaceFilePath), content);
}
