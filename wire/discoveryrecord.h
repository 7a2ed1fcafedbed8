// The 31-byte record a box sends to port 50003 in answer to a discovery request on port 50002,
// and the one-byte request itself; built by the daemon, read back by the configuration tool.
#pragma once

#include <QByteArray>
#include <QString>

class DiscoveryRecord
{
public:
    static constexpr int Size = 31;
    static constexpr int NameSize = 16;
    static constexpr int SerialSize = 8;
    static constexpr int ServerPort = 50002;
    static constexpr int ReplyPort = 50003;

    QString deviceName;
    QString serialNumber;
    quint8 channel = 0;

    QByteArray toBytes() const;
    // False when the record is shorter than 31 bytes; texts end at their first 0 byte.
    static bool fromBytes(const QByteArray &bytes, DiscoveryRecord *record);

    static QByteArray request();
    // An empty datagram counts as one whose first byte is 0.
    static bool isRequest(const QByteArray &datagram);
};
