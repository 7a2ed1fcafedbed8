// Payload of the set-serial order (type 4): the serial number as a big-endian 32-bit number,
// the one big-endian field inside the otherwise little-endian order frame.
#pragma once

#include <QByteArray>

class SerialOrder
{
public:
    static QByteArray payload(quint32 serial);
    // A payload shorter than 4 bytes carries 0.
    static quint32 serial(const QByteArray &payload);
};
