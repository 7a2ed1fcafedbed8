#include "link/connectionmanager.h"

#include "link/authorizeuser.h"
#include "wire/dmxorder.h"
#include "wire/deviceinfo.h"
#include "wire/discoveryrecord.h"
#include "link/dmxserialport.h"
#include "wire/serialorder.h"
#include "wire/tcpprotocol.h"
#include "link/tcpserver.h"
#include "link/udpcontrol.h"
#include "wire/udppacket.h"
#include "link/udpsocket.h"
#include "maintenance/playerfiles.h"
#include "maintenance/stickconfig.h"
#include "player/playermanager.h"
#include "system/atomicfile.h"
#include "system/network.h"
#include "system/systemmanager.h"

#include <QDebug>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSettings>
#include <QTimer>
#include <QUdpSocket>

ConnectionManager *ConnectionManager::m_instance = nullptr;

ConnectionManager *ConnectionManager::getInstance(QObject *parent)
{
    if (!m_instance)
        m_instance = new ConnectionManager(parent);
    return m_instance;
}

ConnectionManager::ConnectionManager(QObject *parent)
    : QObject(parent)
    , m_usbStorage(findUsbStorage())
{
    copyBackgroundImage();
    const bool orderSocketBound = bindOrderSocket();
    createChildren();
    takeSharedObjects();
    PlayerManager *player = PlayerManager::getInstance();

    connectUdpServices(orderSocketBound);
    connectNetworkFacade();
    connectTcpService();
    connectBoardLink(player);
    connectTransportToPlayer(m_udpControl, player);

    startTcpService();
}

QStorageInfo ConnectionManager::findUsbStorage()
{
    const QStorageInfo root = QStorageInfo::root();
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.name() != QLatin1String(stickLabel))
            continue;
        if (volume == root || volume.device() == root.device())
            continue;
        return volume;
    }
    return QStorageInfo();
}

void ConnectionManager::copyBackgroundImage()
{
    const QString image = QString::fromLatin1(backgroundImagePath);
    if (!QFile::exists(image))
        return;
    // Replaced as a whole, so there is never a moment without a background.
    QString error;
    if (!AtomicFile::copy(image, QString::fromLatin1(backgroundCopyPath), &error))
        qDebug() << "Cannot copy the background:" << error;
}

// A failed bind leaves the order service absent; the rest of the hub works without it.
bool ConnectionManager::bindOrderSocket()
{
    m_setSocket = new QUdpSocket(this);
    return m_setSocket->bind(QHostAddress::Any, orderSocketPort);
}

void ConnectionManager::createChildren()
{
    m_dmxSerialPort = new DmxSerialPort(this);
    m_udpSocket = new UdpSocket(this);
    m_tcpServer = new TcpServer(this);
    m_udpControl = new UdpControl(this);
    m_playerFiles = new PlayerFiles(this);
}

void ConnectionManager::takeSharedObjects()
{
    m_systemManager = SystemManager::getInstance();
    m_authorizeUser = m_systemManager->authorizeUser();
    m_network = m_systemManager->network();
}

void ConnectionManager::connectNetworkFacade()
{
    connect(m_network, &Network::networkRefreshed, this, &ConnectionManager::onNetworkRefreshed);
}

void ConnectionManager::connectBoardLink(PlayerManager *player)
{
    connect(player, &PlayerManager::initialized, m_dmxSerialPort, &DmxSerialPort::open);
    connect(m_dmxSerialPort, &DmxSerialPort::communicationInitialized,
            this, &ConnectionManager::onCommunicationInitialized);
    connectTransportToPlayer(m_dmxSerialPort, player);
}

// The player lives in its worker thread: commands reach it queued, one at a time in arrival order.
// The 16-bit values are widened to int unchanged.
template <class Source>
void ConnectionManager::connectTransportToPlayer(Source *source, PlayerManager *player)
{
    connect(source, &Source::play, player, &PlayerManager::play, Qt::QueuedConnection);
    connect(source, &Source::setTrack, player, &PlayerManager::setTrack, Qt::QueuedConnection);
    connect(source, &Source::pause, player, &PlayerManager::pause, Qt::QueuedConnection);
    connect(source, &Source::stop, player, &PlayerManager::stop, Qt::QueuedConnection);
    connect(source, &Source::setLeftVolume, player, &PlayerManager::setVolume, Qt::QueuedConnection);
    connect(source, &Source::setMode, player, &PlayerManager::setMode, Qt::QueuedConnection);
    connect(source, &Source::setDmxSignal, player, &PlayerManager::isDmx, Qt::QueuedConnection);
}

void ConnectionManager::onCommunicationInitialized(bool ok)
{
    qDebug() << "Dmx serial port is opened:" << ok;
    if (!ok) {
        // The next attempt comes with the player's next initialized(), after a reconnection.
        qDebug() << "Cannot initialized DMX";
        return;
    }
    QTimer::singleShot(linkReadyDelayMs, Qt::PreciseTimer, this, &ConnectionManager::onLinkReady);
}

void ConnectionManager::onLinkReady()
{
    if (m_systemManager->udpControl()) {
        m_udpControl->setPort(quint16(m_systemManager->udpPort()));
        m_dmxSerialPort->setEnabled(false);
        return;
    }
    m_dmxSerialPort->setEnabled(true);
    if (!m_dmxSerialPort->channelSet())
        sendChannel();
}

void ConnectionManager::sendChannel()
{
    const uint channel = m_systemManager->dmxChannel();
    qDebug() << "Attempt to set channel:" << channel;
    // The board counts addresses from 0; channel 0 therefore goes out as 0xFFFF.
    m_dmxSerialPort->send(DmxOrder(CMD_DMX_ADDR, uint16_t(channel - 1)).toBytes());
    emit connError(tr("Channel"), tr("Set channel to %1").arg(channel), channelNoticeMs);
}

void ConnectionManager::onNetworkRefreshed()
{
    sendTcpResponse(TcpProtocol::RespNetworkApplied);
    // The delay lets the reply leave the socket before the machine goes down.
    QTimer::singleShot(rebootDelayMs, this, [this] {
        m_systemManager->flushNetworkService();
        m_systemManager->reloadNetworkServices();
        m_systemManager->rebootSystem();
    });
}

void ConnectionManager::sendTcpResponse(uint8_t cmd)
{
    qDebug() << "Send response:" << int(cmd);
    m_tcpServer->send(TcpProtocol::responseReply(cmd, m_systemManager->serialNumber().toUtf8()));
}

void ConnectionManager::startTcpService()
{
    qDebug() << "TCP server is listening:" << m_tcpServer->listen();
}

namespace {

const char *const stickConfigPath = "/media/ZR605/config.ini";
constexpr int serialNoticeMs = 7000;

// Order replies leave from a fresh socket on a port the system picks, as the tool expects.
void sendOrderReply(const QByteArray &frame, const QHostAddress &address, quint16 port)
{
    QUdpSocket socket;
    socket.writeDatagram(frame, address, port);
}

// An INI value holding a comma comes back as a list; the name or password meant the whole text.
QString settingText(const QSettings &settings, const QString &key)
{
    const QVariant value = settings.value(key);
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

// Dotted IPv4 text to a number, first octet most significant; 0 when not an address.
quint32 ipv4Number(const QString &address)
{
    QHostAddress host;
    if (!host.setAddress(address) || host.protocol() != QAbstractSocket::IPv4Protocol)
        return 0;
    return host.toIPv4Address();
}

// The settings files as they are now; the stick size is the one found at start-up.
DeviceInfo readDeviceInfo(qint64 storageSize)
{
    DeviceInfo info;
    info.storageSize = storageSize;
    // A file too large to read is present but damaged: its values read as unset.
    const QString stickConfig = QString::fromLatin1(stickConfigPath);
    if (QFile::exists(stickConfig)) {
        const QSettings stick(StickConfig::isReadable(stickConfig) ? stickConfig : QString(), QSettings::IniFormat);
        info.configPresent = 1;
        info.name = settingText(stick, QStringLiteral("devname"));
        info.password = settingText(stick, QStringLiteral("password"));
        info.channel = quint16(stick.value(QStringLiteral("channel"), 1).toUInt());
    }
    const QSettings device(QString::fromLatin1(SystemManager::settingsFilePath), QSettings::IniFormat);
    info.dhcp = device.value(QStringLiteral("NET_MODE")).toString() == QLatin1String("dhcp") ? 1 : 0;
    info.ip = ipv4Number(device.value(QStringLiteral("NET_IP")).toString());
    info.mask = quint8(qPopulationCount(ipv4Number(device.value(QStringLiteral("NET_MASK")).toString())));
    info.gateway = ipv4Number(device.value(QStringLiteral("NET_ROUTE")).toString());
    info.serial = device.value(QStringLiteral("SN"), 0).toUInt();
    return info;
}

} // namespace

void ConnectionManager::connectUdpServices(bool orderSocketBound)
{
    if (orderSocketBound)
        connect(m_setSocket, &QUdpSocket::readyRead, this, &ConnectionManager::readFromSetSocket);
    connect(m_udpSocket, &UdpSocket::deviceDiscovered, this, &ConnectionManager::sendInitialData);
}

void ConnectionManager::sendInitialData()
{
    DiscoveryRecord record;
    record.deviceName = m_systemManager->deviceName();
    record.serialNumber = m_systemManager->serialNumber();
    record.channel = m_systemManager->dmxChannel();
    m_udpSocket->sendPackage(record.toBytes());
}

void ConnectionManager::readFromSetSocket()
{
    while (m_setSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_setSocket->receiveDatagram();
        udp_packet packet;
        if (udp_packet::parse(datagram.data(), &packet))
            doNetworkOrder(packet, datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

void ConnectionManager::doNetworkOrder(const udp_packet &packet, const QHostAddress &address, quint16 port)
{
    switch (packet.header.type) {
    case udp_packet::TypeSearch:
        qDebug() << "Search received";
        sendSearchInfo(address, port);
        break;
    case udp_packet::TypeSetSerial:
        qDebug() << "set serial";
        // Acknowledged only once stored: the installer takes the box's word for it.
        if (setSerialNumber(packet.payload))
            sendAck(address, port);
        break;
    default:
        break;
    }
}

void ConnectionManager::sendSearchInfo(const QHostAddress &address, quint16 port)
{
    const qint64 storageSize = m_usbStorage.isValid() ? m_usbStorage.bytesTotal() : -1;
    const DeviceInfo info = readDeviceInfo(storageSize);
    sendOrderReply(udp_packet::buildUdpPacketFrame(udp_packet::TypeSearch, 0, 0, 0, info.toBytes()), address, port);
}

void ConnectionManager::sendAck(const QHostAddress &address, quint16 port)
{
    sendOrderReply(udp_packet::buildUdpPacketFrame(udp_packet::TypeAck, 0, 0, 0, QByteArray()), address, port);
}

bool ConnectionManager::setSerialNumber(const QByteArray &payload)
{
    const quint32 serial = SerialOrder::serial(payload);
    qDebug() << "Set serial: " << serial;
    emit connError(tr("Numer seryjny"), QStringLiteral("Ustawiono numer seryjny: %1").arg(serial), serialNoticeMs);
    return AtomicFile::storeSettings(QString::fromLatin1(SystemManager::settingsFilePath), {{QStringLiteral("SN"), serial}});
}

// All direct, so a request is answered before the server's read handler returns.
void ConnectionManager::connectTcpService()
{
    connect(m_authorizeUser, &AuthorizeUser::authorized, this, &ConnectionManager::checkTcpAuthorization);
    connect(this, &ConnectionManager::networkReloaded, m_tcpServer, &TcpServer::listen);
    connect(m_tcpServer, &TcpServer::loginRequested, m_authorizeUser, &AuthorizeUser::checkPassword);
    connect(m_tcpServer, &TcpServer::networkConfigRequested, this, &ConnectionManager::sendNetworkConfiguration);
    connect(m_tcpServer, &TcpServer::networkConfigReceived, this, &ConnectionManager::updateNetwork);
    connect(m_tcpServer, &TcpServer::newPasswordReceived, this, &ConnectionManager::onNewPasswordReceived);
    connect(m_tcpServer, &TcpServer::sendFileRequested, this, &ConnectionManager::prepareFileToSend);
    connect(m_tcpServer, &TcpServer::configReceived, this, &ConnectionManager::readConfig);
    connect(m_tcpServer, &TcpServer::removeFileRequested, m_playerFiles, &PlayerFiles::clearConfiguration);
    connect(m_tcpServer, &TcpServer::rebootDeviceRequested, this, &ConnectionManager::onRebootDeviceRequested);
}

void ConnectionManager::checkTcpAuthorization(bool authorized)
{
    qDebug() << "Device authorized:" << authorized;
    m_tcpServer->setAuthorized(authorized);
    sendTcpResponse(authorized ? TcpProtocol::RespLoginAccepted : TcpProtocol::RespLoginRefused);
}

void ConnectionManager::sendNetworkConfiguration()
{
    TcpProtocol::msgNetworkConfiguration configuration;
    configuration.ip = m_network->getIp().toUtf8();
    configuration.gw = m_network->getGateway().toUtf8();
    configuration.mask = m_network->getSubnetMask();
    configuration.dhcp = m_network->getDhcp();
    configuration.serialNumber = m_systemManager->serialNumber().toUtf8();
    configuration.port = m_udpControl->port();
    m_tcpServer->send(TcpProtocol::networkConfigurationReply(configuration));
}

// The values end up in the interface file that the networking service runs as root, so nothing
// but plain addresses is stored. A refused configuration gets no reply, like a failed rewrite.
void ConnectionManager::updateNetwork(QByteArray ip, QByteArray gw, uint8_t mask, bool dhcp)
{
    ip = TcpProtocol::textUpToNul(ip);
    gw = TcpProtocol::textUpToNul(gw);
    if (!TcpProtocol::isAcceptableNetworkConfiguration(ip, gw, mask, dhcp)) {
        qDebug() << "Network configuration refused:" << ip << gw << mask << dhcp;
        return;
    }
    m_network->setIp(QString::fromUtf8(ip));
    m_network->setGateway(QString::fromUtf8(gw));
    m_network->setSubnetMask(mask);
    m_network->setDhcp(dhcp);
    qDebug() << "Start reload network";
    // On success the network-applied handler answers and reboots.
    m_network->reloadNetwork();
}

void ConnectionManager::prepareFileToSend()
{
    const QStringList files = m_playerFiles->extractFileListFrom(QStringLiteral("/media/ZR605/"));
    m_tcpServer->send(TcpProtocol::fileListReply(m_systemManager->serialNumber().toUtf8(), files));
}

void ConnectionManager::readConfig(uint8_t fileType, uint8_t dmxChannel, QByteArray deviceLabel)
{
    // Only the device configuration (channel and name) is handled; other types are ignored.
    if (fileType != 0)
        return;
    // The channel lives on the stick, which may lack the file or be read-only; as before, that
    // does not hold up the reply. A name that is not on the disk gets none, like a failed network write.
    m_systemManager->setDmxChannel(dmxChannel);
    const bool stored = m_systemManager->setDeviceName(QString::fromUtf8(TcpProtocol::textUpToNul(deviceLabel)));
    sendChannel();
    if (stored)
        sendTcpResponse(TcpProtocol::RespConfigurationStored);
}

// A new record that could not be written is not in force, so the tool hears "refused" rather
// than "changed" and the old password keeps working.
void ConnectionManager::onNewPasswordReceived(const QByteArray &oldPassword, const QByteArray &newPassword)
{
    const bool matched = m_authorizeUser->comparePasswordHash(oldPassword);
    const bool stored = matched && m_authorizeUser->updatePassword(newPassword);
    qDebug() << "Password set:" << matched;
    sendTcpResponse(stored ? TcpProtocol::RespPasswordChanged : TcpProtocol::RespPasswordRefused);
}

void ConnectionManager::onRebootDeviceRequested(bool sendAck)
{
    if (sendAck)
        sendTcpResponse(TcpProtocol::RespRebootAccepted);
    // The delay lets the acknowledgement leave the socket before the machine goes down.
    QTimer::singleShot(rebootDelayMs, this, [this] { m_systemManager->rebootSystem(); });
}
