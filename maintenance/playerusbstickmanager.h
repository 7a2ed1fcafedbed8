#pragma once

// Finds the USB stick labelled "ZR605" among the mounted volumes and applies a reset file found in
// its root directory.

#include <QObject>
#include <QStorageInfo>
#include <QString>

class ResetFiles;
class Network;
class AuthorizeUser;

class PlayerUsbStickManager : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *stickLabel = "ZR605";
    static constexpr const char *resetFileName = ".__zr605__reset";

    static PlayerUsbStickManager *getInstance(QObject *parent = nullptr);

    bool findUsbStick();
    QString usbStickPath() const;
    QStorageInfo usbStick() const;
    void setUsbStick(const QStorageInfo &usbStick);
    void setNetwork(Network *network);
    void setAuthorizeUser(AuthorizeUser *authorizeUser);
    void watchPendriveContent();
    void readResetFile(const QString &path);
    // A valid reset file was found but could not be removed from the stick, so it was not applied.
    bool resetFileStuck() const;

signals:
    void resetOperationFinished() const;

private:
    explicit PlayerUsbStickManager(QObject *parent);

    static PlayerUsbStickManager *m_instance;

    ResetFiles *m_resetFiles = nullptr;
    QStorageInfo m_usbStick;
    bool m_resetFileStuck = false;
};
