// quorvant-ctl against boxes that misbehave: nothing there, a wrong password, a closed connection,
// replies cut short or undecodable, and bad command lines. Each ends in its own exit code, never a hang.

#include "tests/support/ctlprocess.h"
#include "tests/support/testmain.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

namespace {

enum Exit { Ok = 0, Usage = 2, NoBox = 3, Timeout = 4, LoginRefused = 5, Malformed = 6, Closed = 7, Refused = 8 };

const QByteArray serial = "12345678";
const QByteArray loginAccepted = QByteArray::fromHex("0301") + serial;

// A box on the TCP configuration port that answers the n-th request of a connection with the n-th
// step: bytes to send, and then, when they end in "close", closes; a first step "close" closes at once.
class ScriptedBox : public QTcpServer
{
public:
    explicit ScriptedBox(const QList<QByteArray> &steps)
    {
        connect(this, &QTcpServer::newConnection, this, [this, steps] {
            QTcpSocket *client = nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, client, [client, steps, n = 0]() mutable {
                client->readAll();
                const QByteArray step = steps.value(n++);
                client->write(step.endsWith("close") ? step.chopped(5) : step);
                if (step.endsWith("close"))
                    client->disconnectFromHost();
            });
            if (steps.value(0) == "close")
                client->disconnectFromHost();
        });
    }
};

QStringList withBox(const QString &command, const QStringList &more = {})
{
    return QStringList{command, Box::boxAddress().toString(), "--password", "secret", "--timeout", "1500"} + more;
}

} // namespace

class TestCtlErrors : public QObject
{
    Q_OBJECT
private slots:
    void failureGivesItsExitCode_data()
    {
        QTest::addColumn<QList<QByteArray>>("steps"); // none: nothing listens on the TCP port
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        const QStringList network = withBox("network");
        const QString box = Box::boxAddress().toString();
        using Steps = QList<QByteArray>;
        QTest::newRow("nothing listens") << Steps{} << network << int(NoBox);
        QTest::newRow("wrong password, as JSON") << Steps{QByteArray::fromHex("030a") + serial} << withBox("network", {"--json"}) << int(LoginRefused);
        QTest::newRow("closed on connect") << Steps{"close"} << network << int(Closed);
        QTest::newRow("silent") << Steps{""} << network << int(Timeout);
        QTest::newRow("login reply cut short, then closed") << Steps{QByteArray::fromHex("0301") + "1234close"} << network << int(Malformed);
        QTest::newRow("undecodable reply") << Steps{QByteArray::fromHex("770000")} << network << int(Malformed);
        QTest::newRow("not logged in after all") << Steps{loginAccepted, QByteArray::fromHex("010c")} << network << int(LoginRefused);
        QTest::newRow("reply of another kind") << Steps{loginAccepted, QByteArray::fromHex("0307") + serial} << network << int(Malformed);
        QTest::newRow("old password refused") << Steps{loginAccepted, QByteArray::fromHex("030b") + serial} << withBox("password", {"--new", "n"}) << int(Refused);
        QTest::newRow("discover, nobody") << Steps{} << QStringList{"discover", "--search", "--timeout", "800"} << int(NoBox);
        QTest::newRow("control, no echo") << Steps{} << QStringList{"control", box + ":5555", "--timeout", "800"} << int(Timeout);
        // Without --password the serial number comes from discovery; nobody answers it.
        QTest::newRow("default password, nobody") << Steps{} << QStringList{"network", box, "--timeout", "800"} << int(NoBox);
        QTest::newRow("unknown command") << Steps{} << QStringList{"dance"} << int(Usage);
        QTest::newRow("dhcp and static") << Steps{} << QStringList{"network", box, "--dhcp", "--address", "1.2.3.4"} << int(Usage);
        QTest::newRow("address with a line break") << Steps{} << QStringList{"network", box, "--address", "1.2.3.4\nup reboot", "--prefix", "24", "--gateway", "1.2.3.1"} << int(Usage);
        QTest::newRow("name too long") << Steps{} << QStringList{"device", box, "--channel", "3", "--name", QString(34, 'n')} << int(Usage);
        QTest::newRow("serial not a number") << Steps{} << QStringList{"set-serial", box, "12ab"} << int(Usage);
        QTest::newRow("track 85") << Steps{} << QStringList{"control", box, "--track", "85"} << int(Usage);
        QTest::newRow("reset file without flags") << Steps{} << QStringList{"reset-file", "-o", "/tmp/r"} << int(Usage);
    }

    void failureGivesItsExitCode()
    {
        QFETCH(QList<QByteArray>, steps);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        ScriptedBox box(steps);
        if (!steps.isEmpty())
            QVERIFY(box.listen(Box::boxAddress(), 50000));
        const CtlProcess::Result result = CtlProcess::run(arguments);
        QVERIFY2(result.exitCode == exitCode, qPrintable(QString("exit %1: %2").arg(result.exitCode).arg(QString(result.err))));
        QVERIFY2(result.err.startsWith("quorvant-ctl: "), result.err.constData());
        // Only a --json run writes to standard output on failure: the error's name and code.
        QCOMPARE(result.json()["exitCode"].toInt(), arguments.contains("--json") ? exitCode : 0);
        QCOMPARE(result.out.isEmpty(), !arguments.contains("--json"));
    }

    // The serial text in a network reply has no length; a short one is known from the login reply.
    void shortSerialIsDecoded()
    {
        ScriptedBox box({QByteArray::fromHex("0301") + QByteArray("42\0\0\0\0\0\0", 8),
                         QByteArray::fromHex("020c") + "192.168.77.2\x0c" "192.168.77.1" + QByteArray::fromHex("1800") + "42" + QByteArray::fromHex("15b3")});
        QVERIFY(box.listen(Box::boxAddress(), 50000));
        const QJsonObject shown = CtlProcess::run(withBox("network", {"--json"})).json().object();
        QCOMPARE(shown["serial"].toString() + ' ' + QString::number(shown["udpPort"].toInt()), QString("42 5555"));
    }

    void alteredEchoIsMalformed()
    {
        QUdpSocket controller;
        QVERIFY(controller.bind(Box::boxAddress(), 5555));
        connect(&controller, &QUdpSocket::readyRead, this, [&controller] {
            const QNetworkDatagram datagram = controller.receiveDatagram();
            controller.writeDatagram(datagram.data().toUpper(), datagram.senderAddress(), quint16(datagram.senderPort()));
        });
        QCOMPARE(CtlProcess::run({"control", Box::boxAddress().toString(), "--timeout", "1500"}).exitCode, int(Malformed));
    }
};

QUORVANT_TEST_MAIN(TestCtlErrors)
#include "tst_ctlerrors.moc"
