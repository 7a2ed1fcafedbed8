#include "link/udpcontrol.h"

#include "wire/controldatagram.h"

#include <QDebug>
#include <QNetworkDatagram>
#include <QUdpSocket>

UdpControl::UdpControl(QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
{
}

quint16 UdpControl::port() const
{
    return m_port;
}

void UdpControl::setPort(const quint16 &port)
{
    if (port == m_port)
        return;
    emit setDmxSignal(false);
    m_port = port;
    // A socket that is already bound cannot bind again; release the old port first.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    const bool bound = m_socket->bind(QHostAddress::Any, m_port);
    connect(m_socket, &QUdpSocket::readyRead, this, &UdpControl::onReadyRead, Qt::UniqueConnection);
    qDebug() << "udp control: bind to" << m_port << bound;
    emit setDmxSignal(true);
}

void UdpControl::send(const QByteArray &data, const QHostAddress &address, quint16 port)
{
    const qint64 written = m_socket->writeDatagram(data, address, port);
    qDebug() << "udp control: send" << written << "bytes";
}

int UdpControl::calculateState(const QByteArray &payload)
{
    return ControlDatagram::state(ControlDatagram::level(payload, ControlDatagram::StateLevel));
}

int UdpControl::calculateTrack(const QByteArray &payload)
{
    return ControlDatagram::track(ControlDatagram::level(payload, ControlDatagram::TrackLevel));
}

int UdpControl::calculateMode(const QByteArray &payload)
{
    return ControlDatagram::mode(ControlDatagram::level(payload, ControlDatagram::ModeLevel));
}

int UdpControl::calculateVolume(const QByteArray &payload)
{
    return ControlDatagram::volume(ControlDatagram::level(payload, ControlDatagram::VolumeLevel));
}

void UdpControl::checkNetworkControl(const QByteArray &payload)
{
    emit setDmxSignal(true);
    if (m_lastPayload.isEmpty()) {
        emitState(calculateState(payload));
        for (int level = ControlDatagram::TrackLevel; level <= ControlDatagram::VolumeLevel; ++level)
            emitLevel(level, ControlDatagram::mapLevel(ControlDatagram::Level(level),
                                                       ControlDatagram::level(payload, ControlDatagram::Level(level))));
        m_lastPayload = payload;
        return;
    }
    // Levels of a payload of another size are not acted on; keeping it as the reference would
    // hide their changes from the next well-formed datagram, losing those commands for good.
    if (payload.size() != 4)
        return;
    for (int level = ControlDatagram::StateLevel; level <= ControlDatagram::VolumeLevel; ++level) {
        const auto which = ControlDatagram::Level(level);
        const int now = ControlDatagram::mapLevel(which, ControlDatagram::level(payload, which));
        const int before = ControlDatagram::mapLevel(which, ControlDatagram::level(m_lastPayload, which));
        if (now != before)
            emitLevel(level, now);
    }
    m_lastPayload = payload;
}

void UdpControl::onReadyRead()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram();
        const QByteArray data = datagram.data();
        qDebug() << "udp control: read" << data.size() << "bytes";
        if (!ControlDatagram::hasControlData(data)) {
            qDebug() << "udp control: datagram hasn't control data";
            continue;
        }
        if (echoAllowed())
            send(data, datagram.senderAddress(), quint16(datagram.senderPort()));
        const QByteArray payload = ControlDatagram::payload(data);
        if (payload == m_lastPayload)
            continue;
        checkNetworkControl(payload);
    }
}

bool UdpControl::echoAllowed()
{
    if (!m_echoWindow.isValid() || m_echoWindow.elapsed() >= 1000) {
        m_echoWindow.start();
        m_echoesInWindow = 0;
    }
    if (m_echoesInWindow == maxEchoesPerSecond)
        qDebug() << "udp control: too many datagrams, echoes suspended for this second";
    return ++m_echoesInWindow <= maxEchoesPerSecond;
}

void UdpControl::emitState(int state)
{
    if (state == ControlDatagram::Stop)
        emit stop();
    else if (state == ControlDatagram::Pause)
        emit pause();
    else
        emit play();
}

void UdpControl::emitLevel(int level, int value)
{
    switch (level) {
    case ControlDatagram::StateLevel: emitState(value); break;
    case ControlDatagram::TrackLevel: emit setTrack(uint16_t(value)); break;
    case ControlDatagram::ModeLevel: emit setMode(uint16_t(value)); break;
    case ControlDatagram::VolumeLevel: emit setLeftVolume(uint16_t(value)); break;
    }
}
