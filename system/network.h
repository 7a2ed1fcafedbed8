#pragma once

// Facade through which every reader and writer of the network configuration goes: stored settings,
// the interface file /cfg/eth0 and the live state of eth0.

#include <QObject>
#include <QString>
#include <cstdint>

class QSettings;
class NetworkSettings;
class NetworkConfigurator;
class SystemManager;

class Network : public QObject
{
    Q_OBJECT

public:
    Network(const QString &settingsPath, QObject *parent = nullptr);

    void setSystemManager(SystemManager *systemManager);

    QString getIp() const;
    QString getGateway() const;
    QString getSubnetMaskString() const;
    void setIp(const QString &ip);
    void setGateway(const QString &gateway);
    uint8_t getSubnetMask() const;
    void setSubnetMask(uint8_t prefixLength);
    bool getDhcp() const;
    void setDhcp(bool dhcp);

    static QString cidrToMask(uint8_t prefixLength);
    static uint8_t maskToCidr(const QString &mask);

    void syncNetworkFile();
    // Makes the stored settings agree with the interface file, which the networking service has
    // already brought up; a change cut short by a power loss leaves them apart.
    void adoptInterfaceFile();
    bool reloadNetwork();
    void updateSettings() const;

signals:
    void networkRefreshed();
    void emptyNetworkConfigurationRead() const;

private:
    void onNetworkSettingsReloaded();

    NetworkSettings *m_networkSettings = nullptr;
    NetworkConfigurator *m_networkConfigurator = nullptr;
};

// Writes /cfg/eth0 from the network keys of the given settings, with the mode word exactly as
// stored, then syncs. 0 on success, -1 when the file cannot be written (old file kept).
int systemNetworkReload(QSettings &settings);
