#include "link/udppacket.h"

#include <QDataStream>
#include <QtEndian>

QByteArray udp_packet::buildUdpPacketFrame(quint8 type, quint8 subType, quint16 arg1, quint16 arg2,
                                           const QByteArray &payload)
{
    QByteArray frame;
    QDataStream out(&frame, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const udp_hdr_t defaults;
    out.writeRawData(defaults.magic.constData(), defaults.magic.size());
    out << type << subType << defaults.reserved << quint16(0) << qint32(0) << arg1 << arg2;
    if (!payload.isEmpty())
        out.writeRawData(payload.constData(), payload.size());

    qToLittleEndian<quint16>(quint16(frame.size()), frame.data() + 10);
    qToLittleEndian<quint32>(0u - wordSum(frame), frame.data() + ChecksumOffset);
    return frame;
}

bool udp_packet::parse(const QByteArray &datagram, udp_packet *packet)
{
    QDataStream in(datagram);
    in.setByteOrder(QDataStream::LittleEndian);
    udp_hdr_t &h = packet->header;
    h.magic = datagram.left(6);
    in.skipRawData(6);
    // QDataStream leaves a field it cannot read fully at 0, so a short datagram reads zeros.
    h.type = 0; h.subType = 0; h.reserved = 0; h.length = 0; h.checksum = 0;
    packet->arg1 = 0;
    packet->arg2 = 0;
    in >> h.type >> h.subType >> h.reserved >> h.length >> h.checksum >> packet->arg1 >> packet->arg2;
    packet->payload = h.length > HeaderSize ? datagram.mid(HeaderSize) : QByteArray();

    if (datagram.size() < HeaderSize)
        return false;
    QByteArray covered = datagram;
    qToLittleEndian<quint32>(0u, covered.data() + ChecksumOffset);
    return quint32(h.checksum) == 0u - wordSum(covered);
}

quint32 udp_packet::wordSum(const QByteArray &bytes)
{
    quint32 sum = 0;
    const int words = bytes.size() / 4;
    for (int i = 0; i < words; ++i)
        sum += qFromLittleEndian<quint32>(bytes.constData() + 4 * i);
    return sum;
}
