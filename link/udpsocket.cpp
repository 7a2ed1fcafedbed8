#include "link/udpsocket.h"

#include "wire/discoveryrecord.h"

#include <QDebug>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QUdpSocket>

UdpSocket::UdpSocket(QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
    , m_senderAddress(new QHostAddress)
{
    connect(m_socket, &QUdpSocket::readyRead, this, &UdpSocket::onReadyRead);
    m_socket->bind(QHostAddress::Any, DiscoveryRecord::ServerPort, QUdpSocket::ShareAddress);
}

UdpSocket::~UdpSocket()
{
    delete m_senderAddress;
}

void UdpSocket::sendPackage(const QByteArray &data)
{
    const qint64 written = m_socket->writeDatagram(data, *m_senderAddress, DiscoveryRecord::ReplyPort);
    if (written < 0)
        qDebug() << "udp: cannot send package";
    else
        qDebug() << "udp: send" << written << "bytes";
}

void UdpSocket::onReadyRead()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        *m_senderAddress = datagram.senderAddress();
        qDebug() << "udp: read:" << datagram.data().size() << "bytes";
        if (DiscoveryRecord::isRequest(datagram.data())) {
            qDebug() << "udp: device discovered";
            emit deviceDiscovered();
        }
    }
}
