// DmxSerialPort on the box's serial line, with the test holding the board's end.

#include "link/dmxorder.h"
#include "link/dmxserialport.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"

#include <QProcess>
#include <QtTest>

namespace {
const QByteArray resetFrame = QByteArray::fromHex("FF 0C 0000 FE");
// A frame that is always acknowledged: once its echo is back, everything sent before it has been
// handled, so "nothing was written back" can be checked without sleeping.
const QByteArray sentinel = QByteArray::fromHex("FF 0B 5AA5 FE");
}

class TestDmxSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void openResetsBoardOnce();
    void boardFrames_data();
    void boardFrames();
    void addressReportSetsChannelSet();
    void splitAndMergedReads();
    void disabledLinkKeepsBytesUntilNextNotification();
    void sendOnClosedPortWritesNothing();
    void noSerialDevice();

private:
    void openBoth();
    QList<QByteArray> echoesUpToSentinel();

    DmxSerialPort *m_link = nullptr;
    BoardPort *m_board = nullptr;
};

void TestDmxSerialPort::init()
{
    m_board = new BoardPort(this);
    QVERIFY2(m_board->open(), qPrintable(m_board->errorString()));
    m_link = new DmxSerialPort(this);
}

void TestDmxSerialPort::cleanup()
{
    delete m_link;
    delete m_board;
    m_link = nullptr;
    m_board = nullptr;
}

void TestDmxSerialPort::openBoth()
{
    QVERIFY(m_link->open());
    QVERIFY(m_board->waitForFrames(1, 5000));
    QCOMPARE(m_board->frames().first(), resetFrame);
    m_board->clear();
}

QList<QByteArray> TestDmxSerialPort::echoesUpToSentinel()
{
    m_board->send(sentinel);
    QDeadlineTimer deadline(5000);
    while (!m_board->frames().contains(sentinel) && !deadline.hasExpired())
        QTest::qWait(10);
    QList<QByteArray> frames = m_board->frames();
    if (frames.removeAll(sentinel) == 0)
        frames << "sentinel never acknowledged";
    return frames;
}

void TestDmxSerialPort::openResetsBoardOnce()
{
    QSignalSpy initialized(m_link, &DmxSerialPort::communicationInitialized);
    openBoth();
    QCOMPARE(initialized.count(), 1);
    QCOMPARE(initialized.first().first().toBool(), true);

    QVERIFY(m_link->open());
    QCOMPARE(echoesUpToSentinel(), QList<QByteArray>());
    QCOMPARE(initialized.count(), 1);
}

void TestDmxSerialPort::boardFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QVariant>("argument");
    QTest::addColumn<bool>("acknowledged");

    const QVariant none;
    QTest::newRow("stop") << QByteArray::fromHex("FF 01 0000 FE") << "stop" << none << true;
    QTest::newRow("play") << QByteArray::fromHex("FF 02 0000 FE") << "play" << none << true;
    QTest::newRow("pause") << QByteArray::fromHex("FF 03 0000 FE") << "pause" << none << true;
    QTest::newRow("track 298") << QByteArray::fromHex("FF 04 2A01 FE") << "setTrack" << QVariant(298) << true;
    QTest::newRow("mode 3") << QByteArray::fromHex("FF 05 0300 FE") << "setMode" << QVariant(3) << true;
    QTest::newRow("left volume 65535") << QByteArray::fromHex("FF 06 FFFF FE") << "setLeftVolume" << QVariant(65535) << true;
    QTest::newRow("right volume") << QByteArray::fromHex("FF 07 1000 FE") << "setRightVolume" << QVariant(16) << true;
    QTest::newRow("bass") << QByteArray::fromHex("FF 08 0500 FE") << "setBass" << QVariant(5) << true;
    QTest::newRow("treble") << QByteArray::fromHex("FF 09 0600 FE") << "setTreble" << QVariant(6) << true;
    QTest::newRow("signal present") << QByteArray::fromHex("FF 0A 0100 FE") << "setDmxSignal" << QVariant(true) << true;
    QTest::newRow("signal lost") << QByteArray::fromHex("FF 0A 0000 FE") << "setDmxSignal" << QVariant(false) << true;
    QTest::newRow("signal value 2 is not presence") << QByteArray::fromHex("FF 0A 0200 FE") << "setDmxSignal" << QVariant(false) << true;
    QTest::newRow("serial report") << QByteArray::fromHex("FF 0B 0000 FE") << "" << none << true;
    QTest::newRow("reset report") << QByteArray::fromHex("FF 0C 0000 FE") << "" << none << true;
    QTest::newRow("address report") << QByteArray::fromHex("FF 0D 0500 FE") << "" << none << false;
    QTest::newRow("CMD_ALL") << QByteArray::fromHex("FF 0E 0000 FE") << "" << none << false;
    QTest::newRow("code 0") << QByteArray::fromHex("FF 00 0000 FE") << "" << none << false;
    QTest::newRow("code 255") << QByteArray::fromHex("FF FF 0000 FE") << "" << none << false;
    QTest::newRow("wrong start byte") << QByteArray::fromHex("FE 02 0000 FE") << "" << none << false;
    QTest::newRow("wrong end byte") << QByteArray::fromHex("FF 02 0000 FF") << "" << none << false;
}

void TestDmxSerialPort::boardFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, signal);
    QFETCH(QVariant, argument);
    QFETCH(bool, acknowledged);

    const QStringList names = {"play", "stop", "pause", "setTrack", "setMode", "setLeftVolume",
                               "setRightVolume", "setBass", "setTreble", "setDmxSignal"};
    QMap<QString, QSignalSpy *> spies;
    for (const QString &name : names) {
        const QMetaObject *meta = m_link->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            if (QString::fromLatin1(meta->method(i).name()) == name)
                spies.insert(name, new QSignalSpy(m_link, QByteArray("2") + meta->method(i).methodSignature()));
        }
    }
    QCOMPARE(spies.size(), names.size());

    openBoth();
    m_board->send(frame);
    const QList<QByteArray> echoes = echoesUpToSentinel();

    QCOMPARE(echoes, acknowledged ? QList<QByteArray>{frame} : QList<QByteArray>());
    for (const QString &name : names) {
        QSignalSpy *spy = spies.value(name);
        QCOMPARE(spy->count(), name == signal ? 1 : 0);
        if (name == signal && argument.isValid())
            QCOMPARE(spy->first().first().toString(), argument.toString());
    }
    qDeleteAll(spies);
}

void TestDmxSerialPort::addressReportSetsChannelSet()
{
    openBoth();
    QVERIFY(!m_link->channelSet());
    m_board->sendOrder(CMD_DMX_ADDR, 4);
    echoesUpToSentinel();
    QVERIFY(m_link->channelSet());
}

void TestDmxSerialPort::splitAndMergedReads()
{
    QSignalSpy tracks(m_link, &DmxSerialPort::setTrack);
    openBoth();

    m_board->send(QByteArray::fromHex("FF 04"));
    QTest::qWait(100);
    QCOMPARE(tracks.count(), 0);
    m_board->send(QByteArray::fromHex("0100 FE FF 04 0200 FE FF 04"));
    m_board->send(QByteArray::fromHex("0300 FE"));
    QTRY_COMPARE_WITH_TIMEOUT(tracks.count(), 3, 5000);
    QCOMPARE(tracks.at(0).first().value<uint16_t>(), uint16_t(1));
    QCOMPARE(tracks.at(1).first().value<uint16_t>(), uint16_t(2));
    QCOMPARE(tracks.at(2).first().value<uint16_t>(), uint16_t(3));
}

void TestDmxSerialPort::disabledLinkKeepsBytesUntilNextNotification()
{
    QSignalSpy plays(m_link, &DmxSerialPort::play);
    QSignalSpy stops(m_link, &DmxSerialPort::stop);
    openBoth();

    m_link->setEnabled(false);
    m_board->sendOrder(CMD_PLAY);
    QTest::qWait(300);
    m_link->setEnabled(true);
    QTest::qWait(200);
    QCOMPARE(plays.count(), 0);
    QCOMPARE(m_board->frames(), QList<QByteArray>());

    m_board->sendOrder(CMD_STOP);
    QTRY_COMPARE_WITH_TIMEOUT(stops.count(), 1, 5000);
    QCOMPARE(plays.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_board->frames().size(), 2, 5000);
    QCOMPARE(m_board->frames().first(), DmxOrder(CMD_PLAY, 0).toBytes());
}

void TestDmxSerialPort::sendOnClosedPortWritesNothing()
{
    m_link->send(QByteArray::fromHex("FF 02 0000 FE"));
    openBoth();
    QCOMPARE(echoesUpToSentinel(), QList<QByteArray>());
}

// An empty /sys/class/tty is a board without any serial port: nothing is listed, nothing opened.
void TestDmxSerialPort::noSerialDevice()
{
    QCOMPARE(QProcess::execute(Box::realProgram("mount"),
                               {"-t", "tmpfs", "notty", "/sys/class/tty"}), 0);
    DmxSerialPort link;
    QSignalSpy initialized(&link, &DmxSerialPort::communicationInitialized);
    QVERIFY(!link.open());
    QCOMPARE(initialized.count(), 1);
    QCOMPARE(initialized.first().first().toBool(), false);
    link.send(QByteArray::fromHex("FF 02 0000 FE"));
    QProcess::execute("umount", {"/sys/class/tty"});
}

QUORVANT_TEST_MAIN(TestDmxSerialPort)
#include "tst_dmxserialport.moc"
