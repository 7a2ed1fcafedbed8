#pragma once

// The four network keys of the device settings file (mode, address, netmask, gateway).

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVariantMap>
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
    // Writes the values set since the last sync and puts the file on the disk; false when that
    // failed (they are then still read as set, and the next sync tries them again).
    bool sync() const;
    // Forgets the values set since the last sync: they read as stored again.
    void discard() const { m_pending.clear(); }
    void updateFromTuple(const NetworkTuple &values);

private:
    QString value(const char *key) const;
    void set(const char *key, const QString &value) const;

    QSettings *m_settings = nullptr;
    mutable QVariantMap m_pending; // set, not yet stored

};
