// A configuration tool's connection for the TCP tests: one request out, the reply back.
#pragma once

#include "link/tcpprotocol.h"
#include "tests/support/box.h"

#include <QCryptographicHash>
#include <QTcpSocket>
#include <memory>

namespace TcpTest {

inline QByteArray digest(const QByteArray &password)
{
    return QCryptographicHash::hash(password, QCryptographicHash::Md5).toHex();
}

// From the tool host (peer namespace), or from the box itself for the in-process server.
inline std::unique_ptr<QTcpSocket> connectClient(bool fromPeer = false)
{
    if (fromPeer)
        return std::unique_ptr<QTcpSocket>(Box::peerTcpConnect(Box::boxAddress(), TcpProtocol::port));
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(Box::boxAddress(), TcpProtocol::port);
    if (!client->waitForConnected(5000))
        return nullptr;
    QTest::qWait(20); // the in-process server takes the connection over on its next turn
    return client;
}

// Waits with the event loop turning (the server may run in this thread) until `replySize`
// bytes came; a reply size of 0 waits a while for a reply that should not come.
inline QByteArray exchange(QTcpSocket &client, const QByteArray &request, int replySize)
{
    client.write(request);
    QElapsedTimer timer;
    timer.start();
    while ((replySize == 0 || client.bytesAvailable() < replySize) && timer.elapsed() < (replySize ? 5000 : 300))
        QTest::qWait(5);
    return client.readAll();
}

} // namespace TcpTest
