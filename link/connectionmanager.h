#pragma once
// The hub of the daemon: creates the device-side services, wires every command to the player,
// brings up the DMX board link and puts the hub's notices on the television.

#include <QObject>
#include <QStorageInfo>
#include <QString>
#include <cstdint>

class QHostAddress;
class QUdpSocket;
class udp_packet;
class UdpSocket;
class TcpServer;
class DmxSerialPort;
class UdpControl;
class AuthorizeUser;
class Network;
class SystemManager;
class PlayerFiles;
class PlayerManager;

class ConnectionManager : public QObject
{
    Q_OBJECT
public:
    static ConnectionManager *getInstance(QObject *parent = nullptr);

    static constexpr quint16 orderSocketPort = 50555;
    static constexpr const char *stickLabel = "ZR605";
    static constexpr const char *backgroundImagePath = "/media/ZR605/SKINDEFAULT.jpg";
    static constexpr const char *backgroundCopyPath = "/cfg/background";
    static constexpr int linkReadyDelayMs = 3000;
    static constexpr int channelNoticeMs = 3000;
    static constexpr int rebootDelayMs = 100;

signals:
    void connError(QString title, QString _errorstr, int duration = 2000);
    void networkReloaded();

private slots:
    void sendChannel();
    void sendInitialData();
    void readFromSetSocket();
    void checkTcpAuthorization(bool authorized);
    void sendTcpResponse(uint8_t cmd);
    void sendNetworkConfiguration();
    void updateNetwork(QByteArray ip, QByteArray gw, uint8_t mask, bool dhcp);
    void prepareFileToSend();
    void readConfig(uint8_t fileType, uint8_t dmxChannel, QByteArray deviceLabel);

private:
    explicit ConnectionManager(QObject *parent);

    static QStorageInfo findUsbStorage();
    static void copyBackgroundImage();
    bool bindOrderSocket();
    void createChildren();
    void takeSharedObjects();

    // Connections, one function per group, made in this order: slots on one signal run in the order
    // they were connected.
    void connectNetworkFacade();
    void connectBoardLink(PlayerManager *player);
    template <class Source>
    void connectTransportToPlayer(Source *source, PlayerManager *player);

    void onCommunicationInitialized(bool ok);
    void onLinkReady();
    void onNetworkRefreshed();
    void startTcpService();

    // Discovery and the network orders of the configuration tool.
    void connectUdpServices(bool orderSocketBound);
    void doNetworkOrder(const udp_packet &packet, const QHostAddress &address, quint16 port);
    void sendSearchInfo(const QHostAddress &address, quint16 port);
    void sendAck(const QHostAddress &address, quint16 port);
    bool setSerialNumber(const QByteArray &payload);

    // The TCP configuration service: its connections and the handlers that are not slots.
    void connectTcpService();
    void onNewPasswordReceived(const QByteArray &oldPassword, const QByteArray &newPassword);
    void onRebootDeviceRequested(bool sendAck);

    static ConnectionManager *m_instance;

    QUdpSocket *m_setSocket = nullptr;
    UdpSocket *m_udpSocket = nullptr;
    TcpServer *m_tcpServer = nullptr;
    DmxSerialPort *m_dmxSerialPort = nullptr;
    UdpControl *m_udpControl = nullptr;
    AuthorizeUser *m_authorizeUser = nullptr;
    Network *m_network = nullptr;
    SystemManager *m_systemManager = nullptr;
    PlayerFiles *m_playerFiles = nullptr;
    QStorageInfo m_usbStorage;
};
