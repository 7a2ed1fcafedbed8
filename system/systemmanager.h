#pragma once

// Process-wide owner of the device identity and settings, and the runner of every system program
// (remount, sync, reboot, network restart, service-unit repair).

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>

class QSettings;
class AuthorizeUser;
class Network;
class PlayerUsbStickManager;

class SystemManager : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *settingsFilePath = "/cfg/settings.cfg";
    static constexpr const char *passwordFilePath = "/cfg/.zr605_password.txt";
    static constexpr const char *rootDevice = "/dev/mmcblk0p2";
    static constexpr const char *serviceUnitPath = "/etc/systemd/system/quorvant.service";
    static constexpr const char *networkInterface = "eth0";
    static constexpr const char *forcedCheckMarker = "/forcefsck";

    static SystemManager *getInstance(QObject *parent = nullptr);

    QString serialNumber() const;
    QString deviceName() const;
    // True once the name is on the disk.
    bool setDeviceName(const QString &name) const;
    uint8_t dmxChannel() const;
    // True once the channel is on the stick; false also without a readable stick file.
    bool setDmxChannel(uint8_t channel);
    int udpPort() const;
    bool udpControl() const;

    AuthorizeUser *authorizeUser() const;
    Network *network() const;
    bool checkUsb() const;
    void initPlayerSystem();

    // -2: the program could not be started, -1: it crashed, otherwise its exit code.
    int execute(const QString &program, const QStringList &arguments) const;
    QString executeAndReadOutput(const QString &program, const QStringList &arguments) const;
    void addFile(const QString &path);
    int changeReadWriteSystem(const QString &device, bool readOnly);

public slots:
    int rebootSystem() const;
    int sync() const;
    int reloadNetworkServices() const;
    int flushNetworkService() const;
    void changeApplicationServiceConfiguration() const;

private:
    explicit SystemManager(QObject *parent);
    QVariant usbValue(const QString &key, const QVariant &defaultValue) const;

    static SystemManager *m_instance;

    QSettings *m_settings = nullptr;
    QSettings *m_usbConfig = nullptr; // none when the stick's file is too large to read
    AuthorizeUser *m_authorizeUser = nullptr;
    Network *m_network = nullptr;
    PlayerUsbStickManager *m_usbStickManager = nullptr;
};
