// The device record of the search reply: the box's name, serial number, network settings,
// stick and stick configuration as the configuration tool reads them. The hub fills it from the
// settings files.
#pragma once

#include <QByteArray>
#include <QString>

class DeviceInfo
{
public:
    QString name = QStringLiteral("ZR605");
    quint32 serial = 0;
    quint8 dhcp = 0;
    quint32 ip = 0;
    quint8 mask = 0;
    quint32 gateway = 0;
    qint64 storageSize = -1;
    quint8 configPresent = 0;
    quint16 channel = 0;
    QString password;

    QByteArray toBytes() const;
    // False when the record is cut short (a text without its 0 byte or a missing number).
    static bool fromBytes(const QByteArray &bytes, DeviceInfo *info);

    // Dotted text of an address number whose most significant byte is the first octet.
    static QString ipv4Text(quint32 address);
};
