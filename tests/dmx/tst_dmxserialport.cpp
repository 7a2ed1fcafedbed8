// DmxSerialPort on the box's serial line, with the test holding the board's end.

#include "link/dmxorder.h"
#include "link/dmxserialport.h"
#include "tests/support/boardport.h"
#include "tests/support/box.h"

#include <QtTest>

using Bytes = QList<QByteArray>;

// Acknowledged and otherwise ignored: once its echo is back, every frame sent before it has been
// handled, so "nothing was written back" needs no sleeping.
static const QByteArray sentinel = QByteArray::fromHex("FF 0B 5AA5 FE");

class TestDmxSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void boardFrames_data();
    void boardFrames();
    void secondOpenNeitherResetsNorSignals();
    void disabledLinkKeepsBytesUntilNextNotification();

private:

    DmxSerialPort *m_link = nullptr;
    BoardPort *m_board = nullptr;
    QStringList m_emitted;
};

void TestDmxSerialPort::init()
{
    m_board = new BoardPort(this);
    QVERIFY2(m_board->open(), qPrintable(m_board->errorString()));
    m_link = new DmxSerialPort(this);
    m_emitted.clear();
    const auto record = [this](const char *name) {
        return [this, name](auto... value) {
            m_emitted << (QString(name) + ... + (' ' + QVariant(value).toString()));
        };
    };
    connect(m_link, &DmxSerialPort::communicationInitialized, this, record("initialized"));
    connect(m_link, &DmxSerialPort::play, this, record("play"));
    connect(m_link, &DmxSerialPort::stop, this, record("stop"));
    connect(m_link, &DmxSerialPort::pause, this, record("pause"));
    connect(m_link, &DmxSerialPort::setTrack, this, record("track"));
    connect(m_link, &DmxSerialPort::setMode, this, record("mode"));
    connect(m_link, &DmxSerialPort::setLeftVolume, this, record("left"));
    connect(m_link, &DmxSerialPort::setRightVolume, this, record("right"));
    connect(m_link, &DmxSerialPort::setBass, this, record("bass"));
    connect(m_link, &DmxSerialPort::setTreble, this, record("treble"));
    connect(m_link, &DmxSerialPort::setDmxSignal, this, record("signal"));

    QVERIFY(m_link->open());
    QVERIFY(m_board->waitForFrames(1, 5000));
    QCOMPARE(m_board->frames(), Bytes{QByteArray::fromHex("FF 0C 0000 FE")});
    QCOMPARE(m_emitted, QStringList{"initialized true"});
    m_board->clear();
    m_emitted.clear();
}

void TestDmxSerialPort::cleanup()
{
    delete m_link;
    delete m_board;
}


void TestDmxSerialPort::boardFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("emitted");
    QTest::addColumn<bool>("acknowledged");

    const auto row = [](const char *name, const char *hex, const char *emitted, bool acknowledged) {
        QTest::newRow(name) << QByteArray::fromHex(hex) << QString(emitted) << acknowledged;
    };
    row("stop", "FF 01 0000 FE", "stop", true);
    row("play", "FF 02 0000 FE", "play", true);
    row("pause", "FF 03 0000 FE", "pause", true);
    row("track little-endian", "FF 04 2A01 FE", "track 298", true);
    row("mode", "FF 05 0300 FE", "mode 3", true);
    row("left volume unclamped", "FF 06 FFFF FE", "left 65535", true);
    row("right volume", "FF 07 1000 FE", "right 16", true);
    row("bass", "FF 08 0500 FE", "bass 5", true);
    row("treble", "FF 09 0600 FE", "treble 6", true);
    row("signal present", "FF 0A 0100 FE", "signal true", true);
    row("signal lost", "FF 0A 0000 FE", "signal false", true);
    row("signal value 2 means lost", "FF 0A 0200 FE", "signal false", true);
    row("reset report", "FF 0C 0000 FE", "", true);
    row("address report", "FF 0D 0500 FE", "", false);
    row("CMD_ALL", "FF 0E 0000 FE", "", false);
    row("code 0", "FF 00 0000 FE", "", false);
    row("wrong start byte", "FE 02 0000 FE", "", false);
    row("wrong end byte", "FF 02 0000 FF", "", false);
    // A stray byte costs only the group it lands in; the frame behind it is still carried out.
    row("stray byte before a frame", "00 FF 02 0000 FE", "play", true);
}

void TestDmxSerialPort::boardFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, emitted);
    QFETCH(bool, acknowledged);

    m_board->send(frame);
    QCOMPARE(m_board->framesUpToEchoOf(sentinel), acknowledged ? Bytes{frame.right(5)} : Bytes{});
    QCOMPARE(m_emitted, emitted.isEmpty() ? QStringList() : QStringList{emitted});
    QCOMPARE(m_link->channelSet(), frame.at(1) == CMD_DMX_ADDR);
}

void TestDmxSerialPort::secondOpenNeitherResetsNorSignals()
{
    QVERIFY(m_link->open());
    QCOMPARE(m_board->framesUpToEchoOf(sentinel), Bytes{});
    QCOMPARE(m_emitted, QStringList());
}

void TestDmxSerialPort::disabledLinkKeepsBytesUntilNextNotification()
{
    m_link->setEnabled(false);
    m_board->sendOrder(CMD_PLAY);
    QTest::qWait(500);
    m_link->setEnabled(true);
    QTest::qWait(200);
    QCOMPARE(m_emitted, QStringList());

    m_board->sendOrder(CMD_STOP);
    QTRY_COMPARE_WITH_TIMEOUT(m_emitted, (QStringList{"play", "stop"}), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_board->frames(), (Bytes{DmxOrder(CMD_PLAY, 0).toBytes(), DmxOrder(CMD_STOP, 0).toBytes()}), 5000);
}

QUORVANT_TEST_MAIN(TestDmxSerialPort)
#include "tst_dmxserialport.moc"
