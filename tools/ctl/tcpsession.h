#pragma once
// One connection to a box's configuration service: connect, log in, send a request and wait for
// its reply, turning every way this can go wrong into an exit code and a message.

#include "wire/tcpprotocol.h"
#include "tools/ctl/ctloutput.h"

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

class TcpSession
{
public:
    TcpSession(const QString &host, quint16 port, int timeoutMs);
    ~TcpSession();

    bool open();
    // Logs in with the MD5 hex digest of the password text, as the box stores only digests.
    bool login(const QString &password);
    // Sends one request and waits for a reply of the expected kind.
    bool exchange(const QByteArray &request, TcpProtocol::Reply::Kind expected, TcpProtocol::Reply *reply);
    // For the requests that get no reply: true once the bytes have left.
    bool sendOnly(const QByteArray &request);

    // The serial number the box sent with its login reply.
    QByteArray serialNumber() const { return m_serialNumber; }
    CtlOutput::ExitCode error() const { return m_error; }
    QString errorText() const { return m_errorText; }

    static QByteArray passwordDigest(const QString &password);
    static QString responseMeaning(quint8 code);

private:
    bool readReply(TcpProtocol::Reply *reply);
    int parsePending(TcpProtocol::Reply *reply, bool final) const;
    bool fail(CtlOutput::ExitCode code, const QString &text);

    QString m_host;
    quint16 m_port;
    int m_timeoutMs;
    QTcpSocket m_socket;
    QByteArray m_pending;
    QByteArray m_serialNumber;
    CtlOutput::ExitCode m_error = CtlOutput::Ok;
    QString m_errorText;
};
