#include "maintenance/playerusbstickmanager.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include "maintenance/resetfiles.h"

PlayerUsbStickManager *PlayerUsbStickManager::m_instance = nullptr;

PlayerUsbStickManager *PlayerUsbStickManager::getInstance(QObject *parent)
{
    if (!m_instance)
        m_instance = new PlayerUsbStickManager(parent);
    return m_instance;
}

PlayerUsbStickManager::PlayerUsbStickManager(QObject *parent)
    : QObject(parent)
    , m_resetFiles(new ResetFiles(this))
{
}

bool PlayerUsbStickManager::findUsbStick()
{
    m_usbStick = QStorageInfo();
    const QStorageInfo root = QStorageInfo::root();
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &volume : volumes) {
        if (volume.name() == QLatin1String(stickLabel) && volume != root
            && volume.device() != root.device() && volume.isValid()) {
            m_usbStick = volume;
            return true;
        }
    }
    return false;
}

QString PlayerUsbStickManager::usbStickPath() const
{
    return m_usbStick.rootPath();
}

QStorageInfo PlayerUsbStickManager::usbStick() const
{
    return m_usbStick;
}

void PlayerUsbStickManager::setUsbStick(const QStorageInfo &usbStick)
{
    m_usbStick = usbStick;
}

void PlayerUsbStickManager::setNetwork(Network *network)
{
    m_resetFiles->setNetwork(network);
}

void PlayerUsbStickManager::setAuthorizeUser(AuthorizeUser *authorizeUser)
{
    m_resetFiles->setAuthorizeUser(authorizeUser);
}

void PlayerUsbStickManager::watchPendriveContent()
{
    const QString root = usbStickPath();
    qDebug() << "start watching usb content:" << root;
    // Without a stick there is no root to look in (an empty path would mean the working directory).
    if (root.isEmpty())
        return;

    const QStringList files = QDir(root).entryList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QString &name : files) {
        if (name == QLatin1String(resetFileName))
            readResetFile(QStringLiteral("%1/%2").arg(root, name));
    }
}

void PlayerUsbStickManager::readResetFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Cannot open:" << file.fileName() << file.errorString();
        return;
    }
    // Not read into memory at all when it cannot be a reset file.
    if (file.size() > ResetFiles::maxFileSize) {
        qDebug() << "Reset file too large, ignored:" << file.fileName() << file.size();
        return;
    }
    const ResetFiles::Commands command = m_resetFiles->readCommand(file.readAll());
    if (command == ResetFiles::CmdNone)
        return;

    file.close();
    // A file that stays on the stick (write-protected, or mounted read-only after an error) would
    // reset the settings and reboot at every start: it is applied only once it is gone.
    if (!file.remove()) {
        qDebug() << "Cannot remove the reset file, nothing reset:" << file.errorString();
        m_resetFileStuck = true;
        return;
    }
    m_resetFiles->parseCmd(command);
    emit resetOperationFinished();
}

bool PlayerUsbStickManager::resetFileStuck() const
{
    return m_resetFileStuck;
}
