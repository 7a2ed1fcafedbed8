#include "link/tcpserver.h"

#include "wire/tcpprotocol.h"
#include "system/network.h"
#include "system/systemmanager.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

using namespace TcpProtocol;

TcpServer::TcpServer(QObject *parent)
    : QObject(parent),
      m_server(new QTcpServer(this)),
      m_systemManager(SystemManager::getInstance()),
      m_network(m_systemManager->network())
{
}

TcpServer::~TcpServer()
{
    delete m_socket;
}

bool TcpServer::listen()
{
    m_authorized = false;
    if (m_server->isListening())
        m_server->close();
    const QString address = m_network->getIp();
    qDebug() << "tcp: start listening on" << address << "...";
    // An address that was never configured (empty text) binds to every interface, which keeps
    // a box fresh from the factory reachable by the tool.
    if (!m_server->listen(QHostAddress(address), TcpProtocol::port)) {
        qDebug() << "bool TcpServer::listen()" << m_server->errorString();
        return false;
    }
    if (!m_newConnectionBound) {
        connect(m_server, &QTcpServer::newConnection, this, &TcpServer::onNewConnection);
        m_newConnectionBound = true;
    }
    qDebug() << "tcp: server listen on:" << m_server->serverAddress();
    return true;
}

void TcpServer::onNewConnection()
{
    QTcpSocket *next = m_server->nextPendingConnection();
    if (!next)
        return;
    if (m_socket) {
        // The old connection must not report its end after the new client has logged in.
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->disconnectFromHost();
        delete m_socket;
    }
    m_socket = next;
    m_socket->setParent(nullptr);
    m_authorized = false;
    qDebug() << "void TcpServer::onNewConnection()" << m_socket->peerAddress() << m_socket->peerPort();
    connect(m_socket, &QTcpSocket::disconnected, this, &TcpServer::socketDisconnect);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpServer::onReadyRead);
}

void TcpServer::socketDisconnect()
{
    qDebug() << "tcp: socket disconnected";
    m_authorized = false;
}

bool TcpServer::checkAuthorization() const
{
    if (m_authorized)
        return true;
    qDebug() << "tcp: user not authorized!";
    return false;
}

void TcpServer::setAuthorized(bool authorized)
{
    m_authorized = authorized;
}

void TcpServer::onReadyRead()
{
    // No framing on this protocol: whatever arrived since the last notification is one request.
    const QByteArray request = m_socket->readAll();
    qDebug() << " tcp read:" << request.size() << "bytes";
    handleRequest(request);
}

void TcpServer::handleRequest(const QByteArray &request)
{
    if (request.isEmpty())
        return;
    const uint8_t code = uint8_t(request.at(0));
    qDebug() << "tcp: read cmd:" << code;
    if (code == CmdLogin) {
        qDebug() << "tcp: attempt to login...";
        emit loginRequested(parseRequest(request).password);
        return;
    }
    if (needsLogin(code))
        dispatchGuarded(code, request);
}

void TcpServer::dispatchGuarded(uint8_t code, const QByteArray &request)
{
    static const char *const attempts[] = {
        nullptr,
        nullptr,
        "tcp: attempt to get configuration files...",
        nullptr,
        "tcp: attempt to get network config...",
        "tcp: attempt to set network config...",
        "tcp: attempt to set new password...",
        "tcp: attempt to send files...",
        "tcp: attempt to reboot device..",
        "tcp: attempt to reboot device..",
        "tcp: attempt to remove files..",
    };
    qDebug() << attempts[code];
    if (!checkAuthorization()) {
        sendUnauthorized();
        return;
    }
    const Request parsed = parseRequest(request);
    switch (code) {
    case CmdStoreDeviceConfiguration:
        emit configReceived(parsed.fileType, parsed.dmxChannel, parsed.deviceLabel);
        break;
    case CmdReadNetworkConfiguration:
        emit networkConfigRequested();
        break;
    case CmdWriteNetworkConfiguration:
        emit networkConfigReceived(parsed.network.ip, parsed.network.gw, parsed.network.mask, parsed.network.dhcp);
        break;
    case CmdChangePassword:
        emit newPasswordReceived(parsed.oldPassword, parsed.newPassword);
        break;
    case CmdListFiles:
        emit sendFileRequested();
        break;
    case CmdRebootWithAck:
        emit rebootDeviceRequested(true);
        break;
    case CmdRebootWithoutAck:
        emit rebootDeviceRequested(false);
        break;
    case CmdRemoveFiles:
        emit removeFileRequested();
        break;
    default:
        break;
    }
}

void TcpServer::send(const QByteArray &data)
{
    if (!m_socket)
        return;
    // One reply of any size may wait; only a client that leaves earlier replies unread is dropped.
    if (m_socket->bytesToWrite() > maxPendingBytes) {
        qDebug() << "tcp: client does not read its replies, dropped";
        dropClient();
        return;
    }
    const qint64 written = m_socket->isOpen() ? m_socket->write(data) : -1;
    qDebug() << "tcp: send" << written << "bytes";
}

void TcpServer::dropClient()
{
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
    m_authorized = false;
}

void TcpServer::sendUnauthorized()
{
    send(notLoggedInReply());
}
