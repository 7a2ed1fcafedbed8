// DmxSerialPort on the box's serial line, with the test holding the board's end.

#include "wire/dmxorder.h"
#include "link/dmxserialport.h"
#include "tests/support/testmain.h"

using Bytes = QList<QByteArray>;

static const auto wire = [](const char *text) { return QByteArray::fromHex(text); };

class TestDmxSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_board = new BoardPort(this);
        QVERIFY2(m_board->open(), qPrintable(m_board->errorString()));
        m_link = new DmxSerialPort(this);
        const QMetaObject *meta = m_link->metaObject();
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                m_spies << new QSignalSpy(m_link, meta->method(i));
        QVERIFY(m_link->open());
        QCOMPARE(m_board->framesBeforeEcho(), Bytes{wire("FF 0C 0000 FE")});
        QCOMPARE(emitted(), QStringList{"communicationInitialized true"});
        m_board->clear();
    }

    void cleanup()
    {
        qDeleteAll(std::exchange(m_spies, {}));
        delete m_link;
        delete m_board;
    }

    void boardFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("emits");
        QTest::addColumn<bool>("acknowledged");

        QTest::newRow("stop") << wire("FF 01 0000 FE") << QString("stop") << true;
        QTest::newRow("play") << wire("FF 02 0000 FE") << QString("play") << true;
        QTest::newRow("pause") << wire("FF 03 0000 FE") << QString("pause") << true;
        QTest::newRow("track little-endian") << wire("FF 04 2A01 FE") << QString("setTrack 298") << true;
        QTest::newRow("mode") << wire("FF 05 0300 FE") << QString("setMode 3") << true;
        QTest::newRow("left volume unclamped") << wire("FF 06 FFFF FE") << QString("setLeftVolume 65535") << true;
        QTest::newRow("right volume") << wire("FF 07 1000 FE") << QString("setRightVolume 16") << true;
        QTest::newRow("bass") << wire("FF 08 0500 FE") << QString("setBass 5") << true;
        QTest::newRow("treble") << wire("FF 09 0600 FE") << QString("setTreble 6") << true;
        QTest::newRow("signal present") << wire("FF 0A 0100 FE") << QString("setDmxSignal true") << true;
        QTest::newRow("signal lost") << wire("FF 0A 0000 FE") << QString("setDmxSignal false") << true;
        QTest::newRow("signal 2 means lost") << wire("FF 0A 0200 FE") << QString("setDmxSignal false") << true;
        QTest::newRow("reset report") << wire("FF 0C 0000 FE") << QString() << true;
        QTest::newRow("address report") << wire("FF 0D 0500 FE") << QString() << false;
        QTest::newRow("CMD_ALL") << wire("FF 0E 0000 FE") << QString() << false;
        QTest::newRow("code 0") << wire("FF 00 0000 FE") << QString() << false;
        QTest::newRow("wrong start byte") << wire("FE 02 0000 FE") << QString() << false;
        QTest::newRow("wrong end byte") << wire("FF 02 0000 FF") << QString() << false;
    }

    void boardFrames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, emits);
        QFETCH(bool, acknowledged);

        m_board->send(frame);
        QCOMPARE(m_board->framesBeforeEcho(), acknowledged ? Bytes{frame} : Bytes{});
        QCOMPARE(emitted(), emits.isEmpty() ? QStringList() : QStringList{emits});
        QCOMPARE(m_link->channelSet(), frame.at(1) == CMD_DMX_ADDR);
    }

private:
    // "signal argument" for each signal the link emitted since the last call, by signal.
    QStringList emitted()
    {
        QStringList lines;
        for (QSignalSpy *s : qAsConst(m_spies))
            for (; !s->isEmpty(); s->removeFirst())
                lines << (s->signal().split('(')[0] + ' ' + s->first().value(0).toString()).trimmed();
        return lines;
    }

    DmxSerialPort *m_link = nullptr;
    BoardPort *m_board = nullptr;
    QList<QSignalSpy *> m_spies;
};

QUORVANT_TEST_MAIN(TestDmxSerialPort)
#include "tst_dmxserialport.moc"

