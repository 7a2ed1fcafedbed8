#include "wire/udppacket.h"

#include "wire/wirestream.h"

#include <QDataStream>

QByteArray udp_packet::buildUdpPacketFrame(quint8 type, quint8 subType, quint16 arg1, quint16 arg2,
                                           const QByteArray &payload)
{
    QByteArray frame;
    QDataStream out(&frame, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const udp_hdr_t defaults;
    out.writeRawData(defaults.magic.constData(), defaults.magic.size());
    out << type << subType << defaults.reserved << quint16(HeaderSize + payload.size()) << qint32(0) << arg1 << arg2;
    out.writeRawData(payload.constData(), payload.size());
    // The checksum makes the words of the whole frame sum to zero.
    out.device()->seek(ChecksumOffset);
    out << quint32(0u - wordSum(frame));
    return frame;
}

bool udp_packet::parse(const QByteArray &datagram, udp_packet *packet)
{
    QDataStream in(datagram);
    in.setByteOrder(QDataStream::LittleEndian);
    udp_hdr_t &h = packet->header;
    h.magic = WireStream::readField(in, 6);
    // QDataStream leaves a field it cannot read fully at 0, so a short datagram reads zeros.
    in >> h.type >> h.subType >> h.reserved >> h.length >> h.checksum >> packet->arg1 >> packet->arg2;
    packet->payload = h.length > HeaderSize ? datagram.mid(HeaderSize) : QByteArray();

    if (datagram.size() < HeaderSize)
        return false;
    const QByteArray covered = QByteArray(datagram).replace(ChecksumOffset, 4, QByteArray(4, '\0'));
    return quint32(h.checksum) == 0u - wordSum(covered);
}

quint32 udp_packet::wordSum(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setByteOrder(QDataStream::LittleEndian);
    quint32 sum = 0;
    for (int words = bytes.size() / 4; words > 0; --words) {
        quint32 word = 0;
        in >> word;
        sum += word;
    }
    return sum;
}
