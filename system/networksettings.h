#pragma once

// The four network keys of the device settings file (mode, address, netmask, gateway).

#include <QByteArray>
#include <QObject>
#include <QString>
#include <tuple>

class QSettings;

// Address, gateway, netmask, in that order.
using NetworkTuple = std::tuple<QByteArray, QByteArray, QByteArray>;

class NetworkSettings : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *keyMode = "NET_MODE";
    static constexpr const char *keyIp = "NET_IP";
    static constexpr const char *keyMask = "NET_MASK";
    static constexpr const char *keyRoute = "NET_ROUTE";

    NetworkSettings(const QString &path, QObject *parent = nullptr);

    QString getIp() const;
    QString getGateway() const;
    QString getSubnetMask() const;
    void setIp(const QString &ip) const;
    void setGateway(const QString &gateway) const;
    void setSubnetMask(const QString &mask) const;
    bool getDhcp() const;
    void setDhcp(bool dhcp) const;
    // Writes pending changes and puts the file on the disk; false when that failed.
    bool sync() const;
    void updateFromTuple(const NetworkTuple &values);

private:
    QSettings *m_settings = nullptr;
};
