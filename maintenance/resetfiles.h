#pragma once

// Applies a reset file from the USB stick (network back to DHCP, default password, device name).
//
// Placeholder until the reset-file handling lands: it accepts no file, so a reset file found on the
// stick stays there and nothing is changed or rebooted.

#include <QByteArray>
#include <QObject>

class Network;
class AuthorizeUser;

class ResetFiles : public QObject
{
    Q_OBJECT

public:
    explicit ResetFiles(QObject *parent = nullptr);

    void setNetwork(Network *network);
    void setAuthorizeUser(AuthorizeUser *authorizeUser);

    // True when the file was decoded and its command carried out.
    bool doReset(const QByteArray &bytes) const;

private:
    Network *m_network = nullptr;
    AuthorizeUser *m_authorizeUser = nullptr;
};
