#include "tools/ctl/udpclient.h"

#include "wire/serialorder.h"
#include "wire/udppacket.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QMap>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <functional>

namespace {

// Reads datagrams until `accept` says done or the deadline passes; false on timeout.
bool readUntil(QUdpSocket &socket, const QDeadlineTimer &deadline,
               const std::function<bool(const QNetworkDatagram &)> &accept)
{
    for (;;) {
        while (socket.hasPendingDatagrams()) {
            if (accept(socket.receiveDatagram()))
                return true;
        }
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || !socket.waitForReadyRead(int(left))) {
            if (!socket.hasPendingDatagrams())
                return false;
        }
    }
}

bool sameHost(const QHostAddress &a, const QHostAddress &b)
{
    return a.isEqual(b, QHostAddress::TolerantConversion);
}

bool bindAnyPort(QUdpSocket &socket)
{
    return socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
}

} // namespace

UdpClient::UdpClient(int timeoutMs) : m_timeoutMs(timeoutMs) {}

bool UdpClient::fail(CtlOutput::ExitCode code, const QString &text)
{
    m_error = code;
    m_errorText = text;
    return false;
}

bool UdpClient::discover(const QList<QHostAddress> &targets, bool search, QVector<Box> *boxes)
{
    QUdpSocket records;
    // Boxes answer discovery on a fixed port, so only one tool per host can listen for them.
    if (!records.bind(QHostAddress::AnyIPv4, DiscoveryRecord::ReplyPort,
                      QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return fail(CtlOutput::Failure, QStringLiteral("cannot listen on UDP port %1: %2")
                                            .arg(DiscoveryRecord::ReplyPort).arg(records.errorString()));
    QUdpSocket orders;
    if (search && !bindAnyPort(orders))
        return fail(CtlOutput::Failure, QStringLiteral("cannot open a UDP socket: %1").arg(orders.errorString()));

    int sent = 0;
    const QByteArray searchFrame = udp_packet::buildUdpPacketFrame(udp_packet::TypeSearch, 0, 0, 0, QByteArray());
    for (const QHostAddress &target : targets) {
        if (records.writeDatagram(DiscoveryRecord::request(), target, DiscoveryRecord::ServerPort) >= 0)
            ++sent;
        if (search && orders.writeDatagram(searchFrame, target, OrderPort) >= 0)
            ++sent;
    }
    if (sent == 0)
        return fail(CtlOutput::NoBox, QStringLiteral("cannot send to any target: %1").arg(records.errorString()));

    QMap<QString, Box> found;
    auto boxAt = [&found](const QHostAddress &address) -> Box & {
        Box &box = found[address.toString()];
        box.address = address;
        return box;
    };
    const QDeadlineTimer deadline(m_timeoutMs);
    // Both sockets are drained in turn in short slices, so neither waits out the whole timeout.
    while (!deadline.hasExpired()) {
        const QDeadlineTimer slice(qMin<qint64>(20, deadline.remainingTime()));
        readUntil(records, slice, [&](const QNetworkDatagram &datagram) {
            DiscoveryRecord record;
            if (DiscoveryRecord::fromBytes(datagram.data(), &record)) {
                Box &box = boxAt(datagram.senderAddress());
                box.hasRecord = true;
                box.record = record;
            }
            return false;
        });
        if (!search)
            continue;
        readUntil(orders, QDeadlineTimer(0), [&](const QNetworkDatagram &datagram) {
            udp_packet packet;
            DeviceInfo info;
            if (udp_packet::parse(datagram.data(), &packet) && packet.header.type == udp_packet::TypeSearch
                && DeviceInfo::fromBytes(packet.payload, &info)) {
                Box &box = boxAt(datagram.senderAddress());
                box.hasInfo = true;
                box.info = info;
            }
            return false;
        });
    }
    *boxes = found.values().toVector();
    std::sort(boxes->begin(), boxes->end(), [](const Box &a, const Box &b) {
        return a.address.toIPv4Address() < b.address.toIPv4Address();
    });
    return true;
}

bool UdpClient::queryRecord(const QHostAddress &host, DiscoveryRecord *record)
{
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, DiscoveryRecord::ReplyPort,
                     QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return fail(CtlOutput::Failure, QStringLiteral("cannot listen on UDP port %1: %2")
                                            .arg(DiscoveryRecord::ReplyPort).arg(socket.errorString()));
    if (socket.writeDatagram(DiscoveryRecord::request(), host, DiscoveryRecord::ServerPort) < 0)
        return fail(CtlOutput::NoBox, QStringLiteral("cannot send to %1: %2").arg(host.toString(), socket.errorString()));

    bool malformed = false;
    const bool answered = readUntil(socket, QDeadlineTimer(m_timeoutMs), [&](const QNetworkDatagram &datagram) {
        if (!sameHost(datagram.senderAddress(), host))
            return false;
        malformed = !DiscoveryRecord::fromBytes(datagram.data(), record);
        return true;
    });
    if (!answered)
        return fail(CtlOutput::NoBox, QStringLiteral("no discovery answer from %1 within %2 ms")
                                          .arg(host.toString()).arg(m_timeoutMs));
    if (malformed)
        return fail(CtlOutput::MalformedReply, QStringLiteral("%1 sent a discovery record shorter than %2 bytes")
                                                   .arg(host.toString()).arg(DiscoveryRecord::Size));
    return true;
}

bool UdpClient::querySerial(const QHostAddress &host, QString *serial)
{
    DiscoveryRecord record;
    if (!queryRecord(host, &record))
        return false;
    *serial = record.serialNumber;
    // The record cuts the serial to 8 bytes, but set-serial can store ten digits; the search
    // reply has the whole number (though without the leading zeros the record keeps).
    DeviceInfo info;
    if (serial->size() == DiscoveryRecord::SerialSize && searchOne(host, &info)) {
        const QString number = QString::number(info.serial);
        if (number.size() > serial->size() && number.startsWith(*serial))
            *serial = number;
    }
    return true;
}

bool UdpClient::searchOne(const QHostAddress &host, DeviceInfo *info)
{
    QUdpSocket socket;
    if (!bindAnyPort(socket)
        || socket.writeDatagram(udp_packet::buildUdpPacketFrame(udp_packet::TypeSearch, 0, 0, 0, QByteArray()), host,
                                OrderPort) < 0)
        return false;
    return readUntil(socket, QDeadlineTimer(m_timeoutMs), [&](const QNetworkDatagram &datagram) {
        udp_packet packet;
        return sameHost(datagram.senderAddress(), host) && udp_packet::parse(datagram.data(), &packet)
               && packet.header.type == udp_packet::TypeSearch && DeviceInfo::fromBytes(packet.payload, info);
    });
}

bool UdpClient::setSerial(const QHostAddress &host, quint32 serial)
{
    QUdpSocket socket;
    if (!bindAnyPort(socket))
        return fail(CtlOutput::Failure, QStringLiteral("cannot open a UDP socket: %1").arg(socket.errorString()));
    const QByteArray frame = udp_packet::buildUdpPacketFrame(udp_packet::TypeSetSerial, 0, 0, 0,
                                                             SerialOrder::payload(serial));
    if (socket.writeDatagram(frame, host, OrderPort) < 0)
        return fail(CtlOutput::NoBox, QStringLiteral("cannot send to %1: %2").arg(host.toString(), socket.errorString()));

    // Frames with a bad checksum or another type are not the acknowledgement; keep waiting.
    const bool acknowledged = readUntil(socket, QDeadlineTimer(m_timeoutMs), [&](const QNetworkDatagram &datagram) {
        udp_packet packet;
        return sameHost(datagram.senderAddress(), host) && udp_packet::parse(datagram.data(), &packet)
               && packet.header.type == udp_packet::TypeAck;
    });
    if (!acknowledged)
        return fail(CtlOutput::Timeout, QStringLiteral("no acknowledgement from %1 within %2 ms")
                                            .arg(host.toString()).arg(m_timeoutMs));
    return true;
}

bool UdpClient::control(const QHostAddress &host, quint16 port, const QByteArray &datagram, QByteArray *echo)
{
    QUdpSocket socket;
    if (!bindAnyPort(socket))
        return fail(CtlOutput::Failure, QStringLiteral("cannot open a UDP socket: %1").arg(socket.errorString()));
    if (socket.writeDatagram(datagram, host, port) < 0)
        return fail(CtlOutput::NoBox, QStringLiteral("cannot send to %1: %2").arg(host.toString(), socket.errorString()));

    const bool answered = readUntil(socket, QDeadlineTimer(m_timeoutMs), [&](const QNetworkDatagram &reply) {
        if (!sameHost(reply.senderAddress(), host) || reply.senderPort() != port)
            return false;
        *echo = reply.data();
        return true;
    });
    if (!answered)
        return fail(CtlOutput::Timeout, QStringLiteral("no echo from %1:%2 within %3 ms (is UDP control on?)")
                                            .arg(host.toString()).arg(port).arg(m_timeoutMs));
    if (*echo != datagram)
        return fail(CtlOutput::MalformedReply, QStringLiteral("the echo from %1:%2 differs from what was sent: %3")
                                                   .arg(host.toString()).arg(port)
                                                   .arg(QString::fromLatin1(echo->toHex(' '))));
    return true;
}

QList<QHostAddress> UdpClient::broadcastAddresses()
{
    QList<QHostAddress> addresses;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && !entry.broadcast().isNull()
                && !addresses.contains(entry.broadcast()))
                addresses.append(entry.broadcast());
        }
    }
    return addresses;
}

bool UdpClient::resolve(const QString &host, QHostAddress *address)
{
    if (address->setAddress(host))
        return true;
    const QHostInfo info = QHostInfo::fromName(host);
    for (const QHostAddress &candidate : info.addresses()) {
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol) {
            *address = candidate;
            return true;
        }
    }
    return false;
}
