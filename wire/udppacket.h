// Order frame of the configuration tool's UDP exchange on port 50555: a 20-byte header
// marked "ZRM605" that carries the order type, the frame length and an additive checksum.
#pragma once

#include <QByteArray>
#include <QtGlobal>

class udp_hdr_t
{
public:
    udp_hdr_t() = default;
    udp_hdr_t(const udp_hdr_t &) = default;
    udp_hdr_t &operator=(const udp_hdr_t &) = default;
    virtual ~udp_hdr_t() = default;

    QByteArray magic = QByteArrayLiteral("ZRM605");
    quint8 type = 0;
    quint8 subType = 0;
    quint16 reserved = 0xFFFF;
    quint16 length = 16;
    qint32 checksum = 0;
};

class udp_packet
{
public:
    enum OrderType : quint8 { TypeAck = 1, TypeSearch = 3, TypeSetSerial = 4 };
    static constexpr int HeaderSize = 20;
    static constexpr int ChecksumOffset = 12;

    udp_hdr_t header;
    quint16 arg1 = 0;
    quint16 arg2 = 0;
    QByteArray payload;

    static QByteArray buildUdpPacketFrame(quint8 type, quint8 subType, quint16 arg1, quint16 arg2,
                                          const QByteArray &payload);

    // Reads the fields of a received datagram into `packet` (missing bytes read as 0) and
    // returns whether it is a good frame: at least a whole header, checksum matching.
    static bool parse(const QByteArray &datagram, udp_packet *packet);

    // Sum of the complete little-endian 32-bit words; a trailing 1 to 3 bytes add nothing.
    static quint32 wordSum(const QByteArray &bytes);
};
