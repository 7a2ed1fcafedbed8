#include "wire/serialorder.h"

#include <QDataStream>

QByteArray SerialOrder::payload(quint32 serial)
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << serial;
    return bytes;
}

quint32 SerialOrder::serial(const QByteArray &payload)
{
    QDataStream in(payload);
    quint32 serial = 0;
    in >> serial;
    return in.status() == QDataStream::Ok ? serial : 0;
}
