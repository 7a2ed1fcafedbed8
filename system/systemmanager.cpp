#include "system/systemmanager.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTextStream>

#include "link/authorizeuser.h"
#include "system/atomicfile.h"
#include "maintenance/playerusbstickmanager.h"
#include "maintenance/stickconfig.h"
#include "system/network.h"

SystemManager *SystemManager::m_instance = nullptr;

SystemManager *SystemManager::getInstance(QObject *parent)
{
    if (!m_instance)
        m_instance = new SystemManager(parent);
    return m_instance;
}

SystemManager::SystemManager(QObject *parent)
    : QObject(parent)
{
    m_settings = new QSettings(settingsFilePath, QSettings::IniFormat, this);
    m_authorizeUser = new AuthorizeUser(this);
    m_network = new Network(settingsFilePath, this);

    m_usbStickManager = PlayerUsbStickManager::getInstance();
    m_usbStickManager->findUsbStick();

    // The path is fixed here: a stick inserted later is not followed.
    const QString usbConfigPath =
        QStringLiteral("%1/%2").arg(m_usbStickManager->usbStickPath(), QStringLiteral("config.ini"));
    // An oversized file is not read (defaults apply) and never written back.
    if (StickConfig::isReadable(usbConfigPath)) {
        m_usbConfig = new QSettings(usbConfigPath, QSettings::IniFormat, this);
        if (m_usbConfig->status() != QSettings::NoError)
            qDebug() << "Error with usb config:" << m_usbConfig->status();
    }

    m_usbStickManager->setAuthorizeUser(m_authorizeUser);
    m_usbStickManager->setNetwork(m_network);
    m_network->setSystemManager(this);

    connect(m_network, &Network::networkRefreshed, this, &SystemManager::sync);
    connect(m_network, &Network::emptyNetworkConfigurationRead, this,
            &SystemManager::changeApplicationServiceConfiguration);
    connect(m_usbStickManager, &PlayerUsbStickManager::resetOperationFinished, this,
            &SystemManager::rebootSystem);
}

QString SystemManager::serialNumber() const
{
    return m_settings->value(QStringLiteral("SN"), QStringLiteral("00000000")).toString();
}

QString SystemManager::deviceName() const
{
    return m_settings->value(QStringLiteral("NAME"), QStringLiteral("ZR605")).toString();
}

bool SystemManager::setDeviceName(const QString &name) const
{
    qDebug() << "Set device name to:" << name;
    return AtomicFile::storeSettings(m_settings->fileName(), {{QStringLiteral("NAME"), name}});
}

uint8_t SystemManager::dmxChannel() const
{
    return static_cast<uint8_t>(usbValue(QStringLiteral("channel"), 1).toInt());
}

bool SystemManager::setDmxChannel(uint8_t channel)
{
    if (!m_usbConfig)
        return false;
    return AtomicFile::storeSettings(m_usbConfig->fileName(), {{QStringLiteral("channel"), int(channel)}});
}

int SystemManager::udpPort() const
{
    return usbValue(QStringLiteral("udpport"), 5555).toInt();
}

bool SystemManager::udpControl() const
{
    return usbValue(QStringLiteral("udpcontrol"), false).toBool();
}

QVariant SystemManager::usbValue(const QString &key, const QVariant &defaultValue) const
{
    return m_usbConfig ? m_usbConfig->value(key, defaultValue) : defaultValue;
}

AuthorizeUser *SystemManager::authorizeUser() const
{
    return m_authorizeUser;
}

Network *SystemManager::network() const
{
    return m_network;
}

bool SystemManager::checkUsb() const
{
    return m_usbStickManager->findUsbStick();
}

void SystemManager::initPlayerSystem()
{
    const QString path = QString::fromLatin1(passwordFilePath);
    if (QFile::exists(path))
        return;

    qDebug() << "Try create default password file...";
    // Written whole or not at all: an empty file left by a power cut would refuse every log-in for
    // good, and without a file the next start tries again.
    if (m_authorizeUser->restoreDefaultPassword()) {
        qDebug() << "Default password restored";
        return;
    }
    qDebug() << "Cannot find default password: DEVICE UNAUTHORIZED!";
}

int SystemManager::execute(const QString &program, const QStringList &arguments) const
{
    const int result = QProcess::execute(program, arguments);
    if (result == -2)
        qDebug() << "Process" << program << "cannot be started";
    else if (result == -1)
        qDebug() << "Process" << program << "crashed";
    else
        qDebug() << "Process" << program << "finished";
    return result;
}

QString SystemManager::executeAndReadOutput(const QString &program,
                                            const QStringList &arguments) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments, QIODevice::ReadWrite);
    process.waitForReadyRead(30000);
    process.waitForFinished(30000);

    // Only complete lines count: a trailing fragment without newline is dropped.
    QString result;
    while (process.canReadLine())
        result += QString::fromUtf8(process.readLine());

    const QByteArray errors = process.readAllStandardError();
    if (!errors.isEmpty())
        qDebug() << "error for process" << program << arguments << errors;
    return result;
}

void SystemManager::addFile(const QString &path)
{
    execute(QStringLiteral("touch"), {path});
}

int SystemManager::changeReadWriteSystem(const QString &device, bool readOnly)
{
    const QString mode = readOnly ? QStringLiteral("remount,ro") : QStringLiteral("remount,rw");
    return execute(QStringLiteral("mount"), {QStringLiteral("-o"), mode, device});
}

int SystemManager::rebootSystem() const
{
    qDebug() << "Start rebooting...";
    if (sync() < 0)
        return -2;
    return execute(QStringLiteral("reboot"), {QStringLiteral("-f")});
}

int SystemManager::sync() const
{
    return execute(QStringLiteral("sync"), {});
}

int SystemManager::reloadNetworkServices() const
{
    qDebug() << "Start reloading network...";
    return execute(QStringLiteral("systemctl"), {QStringLiteral("restart"), QStringLiteral("networking")});
}

int SystemManager::flushNetworkService() const
{
    qDebug() << "Start flushing eth0...";
    return execute(QStringLiteral("ip"), {QStringLiteral("addr"), QStringLiteral("flush"),
                                          QStringLiteral("dev"), QString::fromLatin1(networkInterface)});
}

namespace {

// Every "After=" line must name the network and the key generation, so that the daemon starts
// only once the network is up. Returns true when a line had to be extended.
bool extendAfterLines(QStringList &lines)
{
    bool changed = false;
    for (QString &line : lines) {
        if (!line.startsWith(QLatin1String("After=")))
            continue;
        if (!line.contains(QLatin1String("network.target"))) {
            line += QLatin1String(" network.target");
            changed = true;
        }
        if (!line.contains(QLatin1String("sshd-keygen.service"))) {
            line += QLatin1String(" sshd-keygen.service");
            changed = true;
        }
    }
    return changed;
}

QStringList readLines(QFile &file)
{
    QStringList lines;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    while (!stream.atEnd())
        lines << stream.readLine();
    return lines;
}

} // namespace

void SystemManager::changeApplicationServiceConfiguration() const
{
    qDebug() << "Start changing service file...";
    const QString device = QString::fromLatin1(rootDevice);
    if (execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,rw"), device}) < 0) {
        qDebug() << "Cannot remount device";
        return;
    }

    QFile unit(QString::fromLatin1(serviceUnitPath));
    if (unit.open(QIODevice::ReadOnly)) {
        QStringList lines = readLines(unit);
        unit.close();
        if (extendAfterLines(lines)) {
            QByteArray content;
            for (const QString &line : qAsConst(lines))
                content += line.toUtf8() + '\n';
            // Replaced as a whole, so a power cut cannot leave the unit empty or cut short.
            QString error;
            if (!AtomicFile::write(unit.fileName(), content, &error))
                qDebug() << "Cannot write service file:" << error;
            rebootSystem();
            return;
        }
    }

    qDebug() << "Network service already appended";
    execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("remount,ro"), device});
}
