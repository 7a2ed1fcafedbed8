#pragma once

// Device end of the TCP configuration service: one client at a time (the newest wins), a login
// per connection, and every request turned into a signal for the hub's handlers.

#include <QByteArray>
#include <QObject>
#include <cstdint>

class QTcpServer;
class QTcpSocket;
class SystemManager;
class Network;

class TcpServer : public QObject
{
    Q_OBJECT

public:
    // Replies waiting for a client that does not read are bounded: past this many bytes the
    // client is dropped, and the next one takes over as with any new connection.
    static constexpr qint64 maxPendingBytes = 4 * 1024 * 1024;

    explicit TcpServer(QObject *parent = nullptr);
    ~TcpServer() override;

    void send(const QByteArray &data);
    void sendUnauthorized();
    bool checkAuthorization() const;
    void setAuthorized(bool authorized);

    // Serves one request as it arrived; only its first request is looked at.
    void handleRequest(const QByteArray &request);

signals:
    void loginRequested(QByteArray password);
    void networkConfigRequested();
    void networkConfigReceived(QByteArray ip, QByteArray gw, uint8_t mask, bool dhcp);
    void newPasswordReceived(QByteArray oldPassword, QByteArray newPassword);
    void sendFileRequested();
    void configReceived(uint8_t fileType, uint8_t dmxChannel, QByteArray deviceLabel);
    void rebootDeviceRequested(bool sendAck);
    void removeFileRequested();

public slots:
    bool listen();

private slots:
    void onNewConnection();
    void socketDisconnect();
    void onReadyRead();

private:
    void dispatchGuarded(uint8_t code, const QByteArray &request);
    void dropClient();

    bool m_authorized = false;
    QTcpServer *m_server = nullptr;
    SystemManager *m_systemManager = nullptr;
    Network *m_network = nullptr;
    QTcpSocket *m_socket = nullptr;
    bool m_newConnectionBound = false;
};
