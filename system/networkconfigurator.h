#pragma once

// Rewrites the ifupdown interface file /cfg/eth0 from the stored settings and reads the live
// address, gateway and netmask of eth0 back from the system.

#include <QByteArray>
#include <QObject>
#include <QString>

#include "system/networksettings.h"

class NetworkProcessOutputParser;
class SystemManager;

class NetworkConfigurator : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *interfaceFilePath = "/cfg/eth0";

    NetworkConfigurator(NetworkSettings *networkSettings, QObject *parent = nullptr);

    void setSystemManager(SystemManager *systemManager);
    bool reloadNetwork();
    bool refreshConfiguration();
    NetworkTuple getNetworkDataAfterRefresh() const;

    // The ifupdown stanza for eth0; the four address lines only for a mode word other than "dhcp"
    // when staticLines is true.
    static QByteArray interfaceFileContent(const QString &modeWord, bool staticLines,
                                           const QString &ip, const QString &mask,
                                           const QString &gateway);
    // Replaces the interface file atomically; false leaves the old file in place.
    static bool writeInterfaceFile(const QByteArray &content);

    struct Stanza
    {
        QString modeWord;
        QString ip;
        QString mask;
        QString gateway;
    };
    // Reads back what interfaceFileContent wrote; false for a file it did not write.
    static bool parseInterfaceFile(const QByteArray &content, Stanza *stanza);

signals:
    void networkSettingsReloaded();

private:
    NetworkSettings *m_networkSettings = nullptr;
    NetworkProcessOutputParser *m_outputParser = nullptr;
};
