// quorvant-ctl against boxes that misbehave: nothing there, a wrong password, a closed connection,
// replies cut short or undecodable. Each failure must end in its own exit code, never a hang.

#include "tests/support/box.h"
#include "tests/support/ctlprocess.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest/QtTest>

namespace {

enum Exit { Ok = 0, NoBox = 3, Timeout = 4, LoginRefused = 5, Malformed = 6, Closed = 7, Refused = 8 };

const QByteArray serial = "12345678";
const QByteArray loginAccepted = QByteArray("\x03\x01", 2) + serial;
const QString closeMark = QStringLiteral("close");

// A box that answers the n-th request of a connection with the n-th scripted step: bytes to
// send, then "close" to close, or nothing at all (silence).
class ScriptedBox : public QObject
{
public:
    explicit ScriptedBox(const QList<QByteArray> &steps) : m_steps(steps)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *client = m_server.nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, this, [this, client] { answer(client); });
            if (!m_steps.isEmpty() && m_steps.first() == closeMark.toLatin1())
                client->disconnectFromHost();
        });
    }
    bool listen() { return m_server.listen(Box::boxAddress(), 50000); }
    QList<QByteArray> received;

private:
    void answer(QTcpSocket *client)
    {
        received.append(client->readAll());
        const QByteArray step = m_steps.value(received.size() - 1);
        if (step.endsWith(closeMark.toLatin1())) {
            client->write(step.left(step.size() - closeMark.size()));
            client->disconnectFromHost();
        } else {
            client->write(step);
        }
    }

    QTcpServer m_server;
    QList<QByteArray> m_steps;
};

QStringList withBox(const QString &command, const QStringList &more = {})
{
    return QStringList{command, Box::boxAddress().toString(), QStringLiteral("--password"), QStringLiteral("secret"),
                       QStringLiteral("--timeout"), QStringLiteral("1500")} + more;
}

} // namespace

class TestCtlErrors : public QObject
{
    Q_OBJECT
private slots:
    void tcpFailureGivesItsExitCode_data();
    void tcpFailureGivesItsExitCode();
    void serialOfAnyLengthIsDecoded_data();
    void serialOfAnyLengthIsDecoded();
    void loginSendsThePasswordDigest();
    void jsonErrorNamesTheFailure();
    void udpFailureGivesItsExitCode_data();
    void udpFailureGivesItsExitCode();
    void alteredEchoIsMalformed();
    void badCommandLineIsUsageError_data();
    void badCommandLineIsUsageError();
};

void TestCtlErrors::tcpFailureGivesItsExitCode_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QList<QByteArray>>("steps");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");

    const QStringList network = withBox(QStringLiteral("network"));
    QTest::newRow("nothing listens") << false << QList<QByteArray>{} << network << int(NoBox);
    QTest::newRow("wrong password") << true << QList<QByteArray>{QByteArray("\x03\x0a", 2) + serial} << network
                                    << int(LoginRefused);
    QTest::newRow("closed on connect") << true << QList<QByteArray>{"close"} << network << int(Closed);
    QTest::newRow("closed on login") << true << QList<QByteArray>{"close"} << withBox(QStringLiteral("files")) << int(Closed);
    QTest::newRow("silent") << true << QList<QByteArray>{} << network << int(Timeout);
    QTest::newRow("login reply cut short") << true << QList<QByteArray>{QByteArray("\x03\x01" "1234", 6)} << network
                                           << int(Malformed);
    QTest::newRow("login reply cut, then closed") << true << QList<QByteArray>{QByteArray("\x03\x01" "1234close", 11)}
                                                  << network << int(Malformed);
    QTest::newRow("undecodable reply") << true << QList<QByteArray>{QByteArray("\x77\x00\x00", 3)} << network
                                       << int(Malformed);
    QTest::newRow("network reply cut, then closed")
        << true << QList<QByteArray>{loginAccepted, QByteArray("\x02\x0c" "192.168.77close", 17)} << network << int(Malformed);
    QTest::newRow("not logged in after all") << true << QList<QByteArray>{loginAccepted, QByteArray("\x01\x0c", 2)}
                                             << network << int(LoginRefused);
    QTest::newRow("reply of another kind") << true << QList<QByteArray>{loginAccepted, QByteArray("\x03\x07", 2) + serial}
                                           << network << int(Malformed);
    QTest::newRow("file list count cut short")
        << true << QList<QByteArray>{loginAccepted, QByteArray("\x03\x06", 2) + serial + QByteArray("\x00\x00\x00\x02\x00\x00\x00\x03" "abc", 11)}
        << withBox(QStringLiteral("files")) << int(Malformed);
    QTest::newRow("old password refused") << true << QList<QByteArray>{loginAccepted, QByteArray("\x03\x0b", 2) + serial}
                                          << withBox(QStringLiteral("password"), {QStringLiteral("--new"), QStringLiteral("n")})
                                          << int(Refused);
    QTest::newRow("no reply to a bad network") << true << QList<QByteArray>{loginAccepted, QByteArray("\x02\x00\x00\x18\x01", 5) + serial + QByteArray("\x15\xb3", 2)}
                                               << withBox(QStringLiteral("network"), {QStringLiteral("--dhcp")}) << int(Timeout);
    QTest::newRow("reboot accepted") << true << QList<QByteArray>{loginAccepted, QByteArray("\x03\x05", 2) + serial}
                                     << withBox(QStringLiteral("reboot")) << int(Ok);
}

void TestCtlErrors::tcpFailureGivesItsExitCode()
{
    QFETCH(bool, listening);
    QFETCH(QList<QByteArray>, steps);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);

    ScriptedBox box(steps);
    if (listening)
        QVERIFY(box.listen());
    QElapsedTimer clock;
    clock.start();
    const CtlProcess::Result result = CtlProcess::run(arguments);
    QVERIFY2(result.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1, stderr: %2").arg(result.exitCode).arg(QString::fromUtf8(result.err))));
    if (exitCode != Ok)
        QVERIFY2(result.err.startsWith("quorvant-ctl: "), result.err.constData());
    qInfo("ended after %lld ms", clock.elapsed());
}

// Set-serial stores a number, so the serial text the box sends without a length may have from
// one to ten digits; the login reply shows only its first eight.
void TestCtlErrors::serialOfAnyLengthIsDecoded_data()
{
    QTest::addColumn<QByteArray>("serialText");
    QTest::newRow("two digits") << QByteArray("42");
    QTest::newRow("eight digits") << QByteArray("12345678");
    QTest::newRow("ten digits") << QByteArray("4000000000");
}

void TestCtlErrors::serialOfAnyLengthIsDecoded()
{
    QFETCH(QByteArray, serialText);
    const QByteArray login = QByteArray("\x03\x01", 2) + (serialText.left(8) + QByteArray(8, '\0')).left(8);
    // ip, gateway, prefix 24, static, serial, UDP port 5555
    const QByteArray network = QByteArray("\x02\x0c" "192.168.77.2" "\x0c" "192.168.77.1" "\x18\x00", 29) + serialText
                               + QByteArray("\x15\xb3", 2);
    ScriptedBox box({login, network});
    QVERIFY(box.listen());
    const CtlProcess::Result result = CtlProcess::run(withBox(QStringLiteral("network"), {QStringLiteral("--json")}));
    QCOMPARE(result.exitCode, int(Ok));
    QCOMPARE(result.json()[QStringLiteral("serial")].toString().toLatin1(), serialText);
    QCOMPARE(result.json()[QStringLiteral("udpPort")].toInt(), 5555);
    QCOMPARE(result.json()[QStringLiteral("gateway")].toString(), QStringLiteral("192.168.77.1"));
}

void TestCtlErrors::loginSendsThePasswordDigest()
{
    ScriptedBox box({QByteArray("\x03\x0a", 2) + serial});
    QVERIFY(box.listen());
    CtlProcess::run(withBox(QStringLiteral("network")));
    QCOMPARE(box.received.size(), 1);
    // code 1, the 32-byte digest field, two unused bytes
    QCOMPARE(box.received.first(),
             QByteArray("\x01", 1) + QCryptographicHash::hash("secret", QCryptographicHash::Md5).toHex()
                 + QByteArray(2, '\0'));
}

void TestCtlErrors::jsonErrorNamesTheFailure()
{
    ScriptedBox box({QByteArray("\x03\x0a", 2) + serial});
    QVERIFY(box.listen());
    const CtlProcess::Result result = CtlProcess::run(withBox(QStringLiteral("network"), {QStringLiteral("--json")}));
    QCOMPARE(result.exitCode, int(LoginRefused));
    QCOMPARE(result.json()[QStringLiteral("error")].toString(), QStringLiteral("login-refused"));
    QCOMPARE(result.json()[QStringLiteral("exitCode")].toInt(), int(LoginRefused));
}

void TestCtlErrors::udpFailureGivesItsExitCode_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    const QString box = Box::boxAddress().toString();
    const QStringList quick{QStringLiteral("--timeout"), QStringLiteral("800")};
    QTest::newRow("discover, nobody") << QStringList{QStringLiteral("discover"), QStringLiteral("--search")} + quick << int(NoBox);
    QTest::newRow("set-serial, no ack") << QStringList{QStringLiteral("set-serial"), box, QStringLiteral("42")} + quick << int(Timeout);
    QTest::newRow("control, no echo") << QStringList{QStringLiteral("control"), box + QStringLiteral(":5555")} + quick << int(Timeout);
    // Without --password the serial number comes from discovery; nobody answers it.
    QTest::newRow("default password, nobody") << QStringList{QStringLiteral("network"), box} + quick << int(NoBox);
}

void TestCtlErrors::udpFailureGivesItsExitCode()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    const CtlProcess::Result result = CtlProcess::run(arguments);
    QVERIFY2(result.exitCode == exitCode,
             qPrintable(QStringLiteral("exit %1, stderr: %2").arg(result.exitCode).arg(QString::fromUtf8(result.err))));
}

void TestCtlErrors::alteredEchoIsMalformed()
{
    QUdpSocket controller;
    QVERIFY(controller.bind(Box::boxAddress(), 5555));
    connect(&controller, &QUdpSocket::readyRead, this, [&controller] {
        const QNetworkDatagram datagram = controller.receiveDatagram();
        controller.writeDatagram(datagram.data().toUpper(), datagram.senderAddress(), quint16(datagram.senderPort()));
    });
    const CtlProcess::Result result = CtlProcess::run({QStringLiteral("control"), Box::boxAddress().toString(),
                                                       QStringLiteral("--timeout"), QStringLiteral("1500")});
    QCOMPARE(result.exitCode, int(Malformed));
}

void TestCtlErrors::badCommandLineIsUsageError_data()
{
    QTest::addColumn<QStringList>("arguments");
    const QString box = Box::boxAddress().toString();
    QTest::newRow("unknown command") << QStringList{QStringLiteral("dance")};
    QTest::newRow("dhcp and static") << QStringList{QStringLiteral("network"), box, QStringLiteral("--dhcp"), QStringLiteral("--address"), QStringLiteral("1.2.3.4")};
    QTest::newRow("address with a line break") << QStringList{QStringLiteral("network"), box, QStringLiteral("--address"), QStringLiteral("1.2.3.4\nup reboot"), QStringLiteral("--prefix"), QStringLiteral("24"), QStringLiteral("--gateway"), QStringLiteral("1.2.3.1")};
    QTest::newRow("prefix 33") << QStringList{QStringLiteral("network"), box, QStringLiteral("--address"), QStringLiteral("1.2.3.4"), QStringLiteral("--prefix"), QStringLiteral("33"), QStringLiteral("--gateway"), QStringLiteral("1.2.3.1")};
    QTest::newRow("name too long") << QStringList{QStringLiteral("device"), box, QStringLiteral("--channel"), QStringLiteral("3"), QStringLiteral("--name"), QString(34, QLatin1Char('n'))};
    QTest::newRow("serial not a number") << QStringList{QStringLiteral("set-serial"), box, QStringLiteral("12ab")};
    QTest::newRow("track 85") << QStringList{QStringLiteral("control"), box, QStringLiteral("--track"), QStringLiteral("85")};
    QTest::newRow("reset file without flags") << QStringList{QStringLiteral("reset-file"), QStringLiteral("-o"), QStringLiteral("/tmp/r")};
}

void TestCtlErrors::badCommandLineIsUsageError()
{
    QFETCH(QStringList, arguments);
    const CtlProcess::Result result = CtlProcess::run(arguments);
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
}

QUORVANT_TEST_MAIN(TestCtlErrors)
#include "tst_ctlerrors.moc"
