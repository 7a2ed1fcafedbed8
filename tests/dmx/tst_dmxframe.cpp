// The board frame codec and the five-byte cutter, without any port.

#include "link/dmxorder.h"
#include "tests/support/box.h"

#include <QtTest>

using Bytes = QList<QByteArray>;

class TestDmxFrame : public QObject
{
    Q_OBJECT
private slots:
    void frameLayout_data();
    void frameLayout();
    void cutterYieldsFrameOnlyAtItsFifthByte_data();
    void cutterYieldsFrameOnlyAtItsFifthByte();
    void cutterKeepsMergedFramesAndBadGroupsInOrder_data();
    void cutterKeepsMergedFramesAndBadGroupsInOrder();
};

void TestDmxFrame::frameLayout_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("bytes");
    //                                                                  start cmd  value lo hi  end
    QTest::newRow("reset") << int(CMD_RESET) << 0 << QByteArray::fromHex("FF    0C   0000         FE");
    QTest::newRow("channel 200") << int(CMD_DMX_ADDR) << 199 << QByteArray::fromHex("FF 0D C700 FE");
    QTest::newRow("channel 0") << int(CMD_DMX_ADDR) << 0xFFFF << QByteArray::fromHex("FF 0D FFFF FE");
    QTest::newRow("track 298") << int(CMD_MOVIE_NBR) << 298 << QByteArray::fromHex("FF 04 2A01 FE");
    QTest::newRow("marks as value") << int(CMD_MODE) << 0xFEFF << QByteArray::fromHex("FF 05 FFFE FE");
    QTest::newRow("code above 127") << 0xC8 << 1 << QByteArray::fromHex("FF C8 0100 FE");
}

void TestDmxFrame::frameLayout()
{
    QFETCH(int, command);
    QFETCH(int, value);
    QFETCH(QByteArray, bytes);
    QCOMPARE(DmxOrder(uint8_t(command), uint16_t(value)).toBytes(), bytes);
    const DmxOrder parsed = DmxOrder::fromBytes(bytes);
    QVERIFY(parsed.hasFrameMarks());
    QCOMPARE(int(parsed.command()), command);
    QCOMPARE(int(parsed.argument()), value);
}

// Every way of cutting one frame into reads: each of the 4 gaps between its bytes is a read
// boundary or not.
void TestDmxFrame::cutterYieldsFrameOnlyAtItsFifthByte_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<Bytes>("reads");
    for (const QByteArray &frame : {QByteArray::fromHex("FF 02 0000 FE"), QByteArray::fromHex("FF 04 FEFF FE")}) {
        for (int gaps = 0; gaps < 16; ++gaps) {
            Bytes reads{QByteArray()};
            for (int i = 0; i < DmxOrder::FrameSize; ++i) {
                reads.last().append(frame.at(i));
                if (gaps & (1 << i))
                    reads << QByteArray();
            }
            QTest::addRow("%s split %d", frame.toHex().constData(), gaps) << frame << reads;
        }
    }
}

void TestDmxFrame::cutterYieldsFrameOnlyAtItsFifthByte()
{
    QFETCH(QByteArray, frame);
    QFETCH(Bytes, reads);
    QByteArray pending;
    for (int i = 0; i < reads.size() - 1; ++i)
        QVERIFY(DmxFrame::cut(pending, reads.at(i)).isEmpty());
    QCOMPARE(DmxFrame::cut(pending, reads.last()), Bytes{frame});
    QVERIFY(pending.isEmpty());
}

// Groups without frame marks are handed on (the port drops them); the cutter then picks up again
// at the next 0xFF inside the group, while a well-formed stream is only ever counted.
void TestDmxFrame::cutterKeepsMergedFramesAndBadGroupsInOrder_data()
{
    QTest::addColumn<Bytes>("reads");
    QTest::addColumn<Bytes>("groups");
    QTest::addColumn<QByteArray>("left");

    const QByteArray play = QByteArray::fromHex("FF 02 0000 FE");
    const QByteArray track = QByteArray::fromHex("FF 04 0300 FE");
    const QByteArray all = play + track + play;
    QTest::newRow("three in one read") << Bytes{all} << Bytes{play, track, play} << QByteArray();
    QTest::newRow("reads across frame borders")
        << Bytes{all.left(3), all.mid(3, 9), all.mid(12)} << Bytes{play, track, play} << QByteArray();
    QTest::newRow("partial third kept") << Bytes{all.left(13)} << Bytes{play, track} << play.left(3);
    QTest::newRow("stray leading byte")
        << Bytes{QByteArray(1, 0) + play + track} << Bytes{QByteArray::fromHex("00 FF 02 00 00"), play, track} << QByteArray();
    QTest::newRow("wrong end byte") << Bytes{QByteArray::fromHex("FF 02 0000 00") + track}
                                    << Bytes{QByteArray::fromHex("FF 02 0000 00"), track} << QByteArray();
    QTest::newRow("truncated frame")
        << Bytes{QByteArray::fromHex("FF 02 00") + play}
        << Bytes{QByteArray::fromHex("FF 02 00 FF 02"), play} << QByteArray();
    QTest::newRow("0xFF in a valid value")
        << Bytes{QByteArray::fromHex("FF 04 FF00 FE") + play} << Bytes{QByteArray::fromHex("FF 04 FF00 FE"), play}
        << QByteArray();
}

void TestDmxFrame::cutterKeepsMergedFramesAndBadGroupsInOrder()
{
    QFETCH(Bytes, reads);
    QFETCH(Bytes, groups);
    QFETCH(QByteArray, left);
    QByteArray pending;
    Bytes cut;
    for (const QByteArray &read : reads)
        cut += DmxFrame::cut(pending, read);
    QCOMPARE(cut, groups);
    QCOMPARE(pending, left);
}

QUORVANT_TEST_MAIN(TestDmxFrame)
#include "tst_dmxframe.moc"
