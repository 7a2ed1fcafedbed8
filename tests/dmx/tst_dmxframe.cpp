// The board frame codec and the five-byte cutter, without any port.

#include "wire/dmxorder.h"

#include <QtTest>

using Bytes = QList<QByteArray>;

static const auto wire = [](const char *text) { return QByteArray::fromHex(text); };

class TestDmxFrame : public QObject
{
    Q_OBJECT
private slots:
    void frameLayout_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("value");
        QTest::addColumn<QByteArray>("bytes");
        // Expected bytes: start, command, value little-endian, end.
        QTest::newRow("track 298") << int(CMD_MOVIE_NBR) << 298 << wire("FF 04 2A01 FE");
        QTest::newRow("marks as value") << int(CMD_MODE) << 0xFEFF << wire("FF 05 FFFE FE");
        QTest::newRow("code above 127") << 0xC8 << 1 << wire("FF C8 0100 FE");
    }

    void frameLayout()
    {
        QFETCH(int, command);
        QFETCH(int, value);
        QFETCH(QByteArray, bytes);
        QCOMPARE(DmxOrder(uint8_t(command), uint16_t(value)).toBytes(), bytes);
        // toBytes() is right (checked above), so this holds only if fromBytes() read every field back.
        QCOMPARE(DmxOrder::fromBytes(bytes).toBytes(), bytes);
    }

    // Groups are counted, never searched for, so 0xFF/0xFE inside a value change nothing; a group
    // without frame marks is handed on (the port drops it) and the cutter picks up again at the next
    // 0xFF inside it, so a stray byte costs one group, not every later frame.
    void cutterYieldsWholeGroupsInOrder_data()
    {
        QTest::addColumn<Bytes>("reads");
        QTest::addColumn<Bytes>("groups");

        // One frame cut into reads in every way: each gap between its bytes is a read boundary or not.
        for (const QByteArray &frame : {wire("FF 02 0000 FE"), wire("FF 04 FEFF FE")}) {
            for (int gaps = 0; gaps < 16; ++gaps) {
                Bytes reads{frame.left(1)};
                for (int i = 1; i < DmxOrder::FrameSize; ++i) {
                    if (gaps & (1 << (i - 1)))
                        reads << QByteArray();
                    reads.last() += frame.at(i);
                }
                QTest::addRow("%s split %d", frame.toHex().constData(), gaps) << reads << Bytes{frame};
            }
        }
        const QByteArray play = wire("FF 02 0000 FE");
        const QByteArray track = wire("FF 04 0300 FE");
        const QByteArray all = play + track + play;
        QTest::newRow("reads across frame borders")
            << Bytes{all.left(3), all.mid(3, 9), all.mid(12)} << Bytes{play, track, play};
        QTest::newRow("stray byte")
            << Bytes{wire("00") + play + track} << Bytes{wire("00 FF 02 00 00"), play, track};
        QTest::newRow("wrong end byte")
            << Bytes{wire("FF 02 0000 00") + track} << Bytes{wire("FF 02 0000 00"), track};
    }

    void cutterYieldsWholeGroupsInOrder()
    {
        QFETCH(Bytes, reads);
        QByteArray pending;
        Bytes cut;
        for (const QByteArray &read : reads)
            cut += DmxFrame::cut(pending, read);
        QTEST(cut, "groups");
    }
};

QTEST_GUILESS_MAIN(TestDmxFrame)
#include "tst_dmxframe.moc"
