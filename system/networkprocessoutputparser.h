#pragma once

// Reads the live IPv4 address, netmask and default gateway of eth0 from the output of
// "ifconfig eth0" and "route".

#include <QByteArray>
#include <QObject>
#include <QString>

class SystemManager;

struct NetInfo
{
    QByteArray ip;
    QByteArray netmask;
    QByteArray gateway;
};

class NetworkProcessOutputParser : public QObject
{
    Q_OBJECT

public:
    explicit NetworkProcessOutputParser(QObject *parent = nullptr);

    void setSystemManager(SystemManager *systemManager);
    NetInfo getNetworkInfo() const;
    QByteArray getGateway() const;

    // Pure text parsers; a field that the output does not show stays empty.
    static NetInfo parseInterfaceOutput(const QString &ifconfigOutput);
    static QByteArray parseRouteOutput(const QString &routeOutput);

private:
    SystemManager *m_systemManager = nullptr;
};
