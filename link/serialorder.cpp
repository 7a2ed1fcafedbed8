#include "link/serialorder.h"

#include <QtEndian>

QByteArray SerialOrder::payload(quint32 serial)
{
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(serial, bytes.data());
    return bytes;
}

quint32 SerialOrder::serial(const QByteArray &payload)
{
    if (payload.size() < 4)
        return 0;
    return qFromBigEndian<quint32>(payload.constData());
}
