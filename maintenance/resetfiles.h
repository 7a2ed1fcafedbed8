#pragma once

// Applies a reset file from the USB stick: decrypts it, reads its two flags and puts the network
// back to DHCP, restores the default password and, when both are set, the device name.

#include <QByteArray>
#include <QObject>

class QJsonDocument;
class AuthorizeUser;
class FileCrypt;
class Network;

class ResetFiles : public QObject
{
    Q_OBJECT

public:
    // Network flag in bit 0, password flag in bit 4.
    enum Commands { CmdNone = 0, CmdNetwork = 1, CmdPassword = 16, CmdAll = 17 };
    Q_ENUM(Commands)

    // A genuine reset file is one small JSON object; anything larger is refused unread.
    static constexpr qint64 maxFileSize = 64 * 1024;

    explicit ResetFiles(QObject *parent = nullptr);

    void setNetwork(Network *network);
    void setAuthorizeUser(AuthorizeUser *authorizeUser);

    // True when the file was decoded and its command carried out.
    bool doReset(const QByteArray &bytes) const;
    // The command the file holds; CmdNone when it cannot be used.
    Commands readCommand(const QByteArray &bytes) const;

    QByteArray removePadding(const QByteArray &bytes) const;
    Commands parseJson(const QJsonDocument &document) const;
    bool parseCmd(Commands command) const;

    void resetNetwork() const;
    void resetPassword() const;
    void resetDeviceName() const;

private:
    FileCrypt *m_fileCrypt = nullptr;
    Network *m_network = nullptr;
    AuthorizeUser *m_authorizeUser = nullptr;
};
