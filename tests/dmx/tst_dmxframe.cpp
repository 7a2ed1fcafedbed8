// The board frame codec and the five-byte cutter, without any port.

#include "link/dmxorder.h"
#include "tests/support/box.h"

#include <QtTest>

using Chunks = QList<QByteArray>;
using Frames = QList<QByteArray>;

class TestDmxFrame : public QObject
{
    Q_OBJECT
private slots:
    void frameLayout_data();
    void frameLayout();
    void defaultOrderIsStopFrame();
    void cutterYieldsFrameOnlyAtItsFifthByte_data();
    void cutterYieldsFrameOnlyAtItsFifthByte();
    void cutterKeepsOrderOfMergedFrames_data();
    void cutterKeepsOrderOfMergedFrames();
    void groupsWithoutFrameMarks_data();
    void groupsWithoutFrameMarks();
    void hexText_data();
    void hexText();
};

void TestDmxFrame::frameLayout_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("bytes");

    //                                            start cmd  value lo/hi  end
    QTest::newRow("reset") << int(CMD_RESET) << 0 << QByteArray::fromHex("FF 0C 0000 FE");
    QTest::newRow("address of channel 1") << int(CMD_DMX_ADDR) << 0 << QByteArray::fromHex("FF 0D 0000 FE");
    QTest::newRow("address of channel 200") << int(CMD_DMX_ADDR) << 199 << QByteArray::fromHex("FF 0D C700 FE");
    QTest::newRow("address of channel 0") << int(CMD_DMX_ADDR) << 0xFFFF << QByteArray::fromHex("FF 0D FFFF FE");
    QTest::newRow("track 298 little-endian") << int(CMD_MOVIE_NBR) << 298 << QByteArray::fromHex("FF 04 2A01 FE");
    QTest::newRow("value bytes equal to marks") << int(CMD_MODE) << 0xFEFF << QByteArray::fromHex("FF 05 FFFE FE");
    QTest::newRow("unknown code above 127") << 0xC8 << 1 << QByteArray::fromHex("FF C8 0100 FE");
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

void TestDmxFrame::defaultOrderIsStopFrame()
{
    QCOMPARE(DmxOrder().toBytes(), QByteArray::fromHex("FF 01 0000 FE"));
}

// Every way of cutting one frame into consecutive reads: the 4 gaps between its bytes are either
// a read boundary or not.
void TestDmxFrame::cutterYieldsFrameOnlyAtItsFifthByte_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<Chunks>("chunks");

    const QList<QPair<const char *, QByteArray>> frames = {
        {"play", QByteArray::fromHex("FF 02 0000 FE")},
        {"marks inside value", QByteArray::fromHex("FF 04 FEFF FE")},
    };
    for (const auto &frame : frames) {
        for (int gaps = 0; gaps < 16; ++gaps) {
            Chunks chunks;
            QByteArray chunk;
            QString shape;
            for (int i = 0; i < DmxOrder::FrameSize; ++i) {
                chunk.append(frame.second.at(i));
                const bool boundary = i == DmxOrder::FrameSize - 1 || (gaps & (1 << i));
                if (boundary) {
                    chunks << chunk;
                    shape += QString::number(chunk.size());
                    chunk.clear();
                }
            }
            QTest::addRow("%s %s", frame.first, qPrintable(shape)) << frame.second << chunks;
        }
    }
}

void TestDmxFrame::cutterYieldsFrameOnlyAtItsFifthByte()
{
    QFETCH(QByteArray, frame);
    QFETCH(Chunks, chunks);

    QByteArray pending;
    for (int i = 0; i < chunks.size() - 1; ++i)
        QVERIFY(DmxFrame::cut(pending, chunks.at(i)).isEmpty());
    QCOMPARE(DmxFrame::cut(pending, chunks.last()), Frames{frame});
    QVERIFY(pending.isEmpty());
}

void TestDmxFrame::cutterKeepsOrderOfMergedFrames_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<QByteArray>("left");

    const QByteArray play = QByteArray::fromHex("FF 02 0000 FE");
    const QByteArray track = QByteArray::fromHex("FF 04 0300 FE");
    const QByteArray signal = QByteArray::fromHex("FF 0A 0100 FE");
    const QByteArray all = play + track + signal;

    QTest::newRow("two in one read") << Chunks{play + track} << Frames{play, track} << QByteArray();
    QTest::newRow("three in one read") << Chunks{all} << Frames{play, track, signal} << QByteArray();
    QTest::newRow("one and a half, then the rest")
        << Chunks{all.left(7), all.mid(7)} << Frames{play, track, signal} << QByteArray();
    QTest::newRow("tail of one glued to head of next")
        << Chunks{all.left(3), all.mid(3, 9), all.mid(12)} << Frames{play, track, signal} << QByteArray();
    QTest::newRow("two and a partial third kept")
        << Chunks{all.left(13)} << Frames{play, track} << signal.left(3);
}

void TestDmxFrame::cutterKeepsOrderOfMergedFrames()
{
    QFETCH(Chunks, chunks);
    QFETCH(Frames, frames);
    QFETCH(QByteArray, left);

    QByteArray pending;
    Frames cut;
    for (const QByteArray &chunk : chunks)
        cut += DmxFrame::cut(pending, chunk);
    QCOMPARE(cut, frames);
    QCOMPARE(pending, left);
}

// A group without frame marks is handed on (the port drops it) and the cutter picks up again at
// the next 0xFF inside it; a well-formed stream is never searched.
void TestDmxFrame::groupsWithoutFrameMarks_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<Frames>("frames");

    const QByteArray play = QByteArray::fromHex("FF 02 0000 FE");
    const QByteArray stop = QByteArray::fromHex("FF 01 0000 FE");

    QTest::newRow("stray leading byte")
        << QByteArray::fromHex("00") + play + stop
        << Frames{QByteArray::fromHex("00 FF 02 00 00"), play, stop};
    QTest::newRow("wrong end byte, next frame aligned")
        << QByteArray::fromHex("FF 02 0000 00") + stop
        << Frames{QByteArray::fromHex("FF 02 0000 00"), stop};
    QTest::newRow("wrong start byte, next frame aligned")
        << QByteArray::fromHex("00 02 0000 FE") + stop
        << Frames{QByteArray::fromHex("00 02 0000 FE"), stop};
    QTest::newRow("truncated frame followed by whole ones")
        << QByteArray::fromHex("FF 02 00") + play + stop
        << Frames{QByteArray::fromHex("FF 02 00 FF 02"), QByteArray::fromHex("FF 02 00 00 FE"),
                  QByteArray::fromHex("FF 01 00 00 FE")};
    QTest::newRow("0xFF in a valid value is not a resync point")
        << QByteArray::fromHex("FF 04 FF00 FE") + stop
        << Frames{QByteArray::fromHex("FF 04 FF00 FE"), stop};
}

void TestDmxFrame::groupsWithoutFrameMarks()
{
    QFETCH(QByteArray, stream);
    QFETCH(Frames, frames);

    QByteArray pending;
    QCOMPARE(DmxFrame::cut(pending, stream), frames);
    QVERIFY(pending.isEmpty());
}

void TestDmxFrame::hexText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("spaced") << "ff 02 00 00 fe" << true << QByteArray::fromHex("FF020000FE");
    QTest::newRow("packed upper case") << "FF0D0100FE" << true << QByteArray::fromHex("FF0D0100FE");
    QTest::newRow("odd digit count") << "ff 0" << false << QByteArray();
    QTest::newRow("not hex") << "ff zz" << false << QByteArray();
}

void TestDmxFrame::hexText()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(QByteArray, bytes);

    QByteArray parsed;
    QCOMPARE(DmxFrame::fromHex(text, &parsed), ok);
    if (ok)
        QCOMPARE(parsed, bytes);
}

QUORVANT_TEST_MAIN(TestDmxFrame)
#include "tst_dmxframe.moc"
