#include "tools/ctl/tcpsession.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>

using namespace TcpProtocol;

TcpSession::TcpSession(const QString &host, quint16 port, int timeoutMs)
    : m_host(host), m_port(port), m_timeoutMs(timeoutMs)
{
}

TcpSession::~TcpSession()
{
    // An orderly close: a reset could make the box drop a last request it has not read yet.
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        m_socket.disconnectFromHost();
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.waitForDisconnected(1000);
    }
}

bool TcpSession::fail(CtlOutput::ExitCode code, const QString &text)
{
    m_error = code;
    m_errorText = text;
    return false;
}

bool TcpSession::open()
{
    m_socket.connectToHost(m_host, m_port);
    if (m_socket.waitForConnected(m_timeoutMs))
        return true;
    const QString reason = m_socket.error() == QAbstractSocket::SocketTimeoutError
                               ? QStringLiteral("no answer within %1 ms").arg(m_timeoutMs)
                               : m_socket.errorString();
    m_socket.abort();
    return fail(CtlOutput::NoBox, QStringLiteral("no box at %1 port %2: %3").arg(m_host).arg(m_port).arg(reason));
}

bool TcpSession::login(const QString &password)
{
    Reply reply;
    if (!exchange(loginRequest(passwordDigest(password)), Reply::Response, &reply))
        return false;
    if (reply.code == RespLoginRefused)
        return fail(CtlOutput::LoginRefused, QStringLiteral("%1 refused the password").arg(m_host));
    if (reply.code != RespLoginAccepted)
        return fail(CtlOutput::MalformedReply, QStringLiteral("unexpected answer to the login: response code %1")
                                                   .arg(reply.code));
    m_serialNumber = reply.serialNumber;
    return true;
}

bool TcpSession::exchange(const QByteArray &request, Reply::Kind expected, Reply *reply)
{
    if (!sendOnly(request) || !readReply(reply))
        return false;
    if (reply->kind == Reply::NotLoggedIn)
        return fail(CtlOutput::LoginRefused, QStringLiteral("%1 says the connection is not logged in").arg(m_host));
    if (reply->kind != expected)
        return fail(CtlOutput::MalformedReply, QStringLiteral("%1 answered with a reply of another kind").arg(m_host));
    return true;
}

bool TcpSession::sendOnly(const QByteArray &request)
{
    // The box reads each arrival of bytes as one request, so never queue a request behind
    // another that is still unanswered; leftovers of an earlier reply are stale.
    m_pending.clear();
    m_socket.readAll();
    if (m_socket.write(request) != request.size())
        return fail(CtlOutput::ConnectionClosed, QStringLiteral("cannot send to %1: %2").arg(m_host, m_socket.errorString()));
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(m_timeoutMs))
            return fail(m_socket.state() == QAbstractSocket::ConnectedState ? CtlOutput::Timeout : CtlOutput::ConnectionClosed,
                        QStringLiteral("cannot send to %1: %2").arg(m_host, m_socket.errorString()));
    }
    return true;
}

bool TcpSession::readReply(Reply *reply)
{
    const QDeadlineTimer deadline(m_timeoutMs);
    for (;;) {
        m_pending += m_socket.readAll();
        const int used = parsePending(reply, false);
        if (used > 0) {
            m_pending.remove(0, used);
            return true;
        }
        if (used == ReplyInvalid)
            return fail(CtlOutput::MalformedReply, QStringLiteral("%1 sent a reply that cannot be decoded: %2")
                                                       .arg(m_host, QString::fromLatin1(m_pending.left(64).toHex(' '))));
        const bool closed = m_socket.state() != QAbstractSocket::ConnectedState;
        if (closed || deadline.hasExpired() || !m_socket.waitForReadyRead(int(deadline.remainingTime()))) {
            m_pending += m_socket.readAll();
            if (m_socket.bytesAvailable() > 0)
                continue;
            const int whole = parsePending(reply, true);
            if (whole > 0) {
                m_pending.remove(0, whole);
                return true;
            }
            const bool lost = closed || m_socket.state() != QAbstractSocket::ConnectedState;
            if (!m_pending.isEmpty())
                return fail(CtlOutput::MalformedReply, QStringLiteral("the reply from %1 was cut short after %2 bytes%3")
                                                           .arg(m_host).arg(m_pending.size())
                                                           .arg(lost ? QStringLiteral(" (connection closed)") : QString()));
            if (lost)
                return fail(CtlOutput::ConnectionClosed, QStringLiteral("%1 closed the connection without answering").arg(m_host));
            return fail(CtlOutput::Timeout, QStringLiteral("no reply from %1 within %2 ms").arg(m_host).arg(m_timeoutMs));
        }
    }
}

int TcpSession::parsePending(Reply *reply, bool final) const
{
    // The login reply carries at most 8 bytes of the serial number; the network and file-list
    // replies carry all of it without a length. A shorter one is known exactly; one of 8 bytes
    // may be longer (set-serial stores up to ten digits), so take the length that makes the
    // reply end where the bytes end: the box writes each reply at once and we wait for it alone.
    const int known = m_serialNumber.isEmpty() ? serialFieldSize : m_serialNumber.size();
    const int longest = known < serialFieldSize ? known : serialFieldSize + 2;
    int first = ReplyIncomplete;
    for (int length = known; length <= longest; ++length) {
        const int used = parseReply(m_pending, reply, length);
        if (used == m_pending.size() || used == ReplyInvalid)
            return used;
        if (first == ReplyIncomplete)
            first = used;
    }
    // Nothing more is coming: trailing bytes beyond a whole reply are ignored.
    if (first > 0 && final)
        return parseReply(m_pending, reply, known);
    return ReplyIncomplete;
}

QByteArray TcpSession::passwordDigest(const QString &password)
{
    return QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex();
}

QString TcpSession::responseMeaning(quint8 code)
{
    switch (code) {
    case RespLoginAccepted: return QStringLiteral("login accepted");
    case RespNetworkApplied: return QStringLiteral("network settings applied, the box reboots");
    case RespPasswordChanged: return QStringLiteral("password changed");
    case RespRebootAccepted: return QStringLiteral("reboot accepted, the box reboots");
    case RespFileList: return QStringLiteral("file list");
    case RespConfigurationStored: return QStringLiteral("channel and device name stored");
    case RespLoginRefused: return QStringLiteral("login refused");
    case RespPasswordRefused: return QStringLiteral("password change refused: old password wrong");
    case RespNotLoggedIn: return QStringLiteral("not logged in");
    default: return QStringLiteral("unknown response %1").arg(code);
    }
}
