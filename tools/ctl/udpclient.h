#pragma once
// The tool's side of the UDP exchanges with boxes: discovery, the search and set-serial orders
// and the transport control datagram, each a datagram out and a bounded wait for the answers.

#include "wire/deviceinfo.h"
#include "wire/discoveryrecord.h"
#include "tools/ctl/ctloutput.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QVector>

class UdpClient
{
public:
    // What one box told us; a box may answer discovery, the search order or both.
    struct Box {
        QHostAddress address;
        bool hasRecord = false;
        DiscoveryRecord record;
        bool hasInfo = false;
        DeviceInfo info;
    };

    static constexpr quint16 OrderPort = 50555;
    static constexpr quint16 ControlPort = 5555;

    explicit UdpClient(int timeoutMs);

    // Sends the discovery request (and the search order) to every target and collects answers
    // until the timeout; the answers are ordered by address.
    bool discover(const QList<QHostAddress> &targets, bool search, QVector<Box> *boxes);
    // The discovery record of one box: the first answer from it.
    bool queryRecord(const QHostAddress &host, DiscoveryRecord *record);
    // The serial number text of one box, from its discovery record.
    bool querySerial(const QHostAddress &host, QString *serial);
    bool setSerial(const QHostAddress &host, quint32 serial);
    bool control(const QHostAddress &host, quint16 port, const QByteArray &datagram, QByteArray *echo);

    CtlOutput::ExitCode error() const { return m_error; }
    QString errorText() const { return m_errorText; }

    // The broadcast address of every IPv4 interface that is up (loopback excluded).
    static QList<QHostAddress> broadcastAddresses();
    // An address as text, or a host name looked up once.
    static bool resolve(const QString &host, QHostAddress *address);

private:
    bool searchOne(const QHostAddress &host, DeviceInfo *info);
    bool fail(CtlOutput::ExitCode code, const QString &text);

    int m_timeoutMs;
    CtlOutput::ExitCode m_error = CtlOutput::Ok;
    QString m_errorText;
};
