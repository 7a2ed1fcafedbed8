#include "wire/jsonstreamsplitter.h"

#include <QtTest>

using Chunks = QList<QByteArray>;

class TestJsonStreamSplitter : public QObject
{
    Q_OBJECT
private slots:
    void cutsStreamIntoCompleteValues_data();
    void cutsStreamIntoCompleteValues();
};

void TestJsonStreamSplitter::cutsStreamIntoCompleteValues_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<Chunks>("values");
    const QByteArray a = R"({"method":"Player.OnPlay","params":{"data":{"player":{"playerid":2}}}})";
    const QByteArray b = R"({"id":1,"jsonrpc":"2.0","result":"OK"})";
    QTest::newRow("two glued in one read") << Chunks{a + b} << Chunks{a, b};
    QTest::newRow("split inside and between values") << Chunks{a.left(20), a.mid(20) + b.left(5), b.mid(5)} << Chunks{a, b};
    QTest::newRow("braces and brackets inside strings") << Chunks{R"({"t":"}{ ]"}{"b":[1,"]"]})"} << Chunks{R"({"t":"}{ ]"})", R"({"b":[1,"]"]})"};
    QTest::newRow("escaped quote split after the backslash") << Chunks{R"({"t":"a\)", R"("}"})"} << Chunks{R"({"t":"a\"}"})"};
    QTest::newRow("string ending in a backslash") << Chunks{R"({"t":"C:\\"}{"u":1})"} << Chunks{R"({"t":"C:\\"})", R"({"u":1})"};
    QTest::newRow("noise and stray closers between values skipped") << Chunks{"\r\n}]" + a + "xyz\n" + b + " 42 "} << Chunks{a, b};
    QTest::newRow("array value") << Chunks{R"([{"a":1},{"b":[2]}])"} << Chunks{R"([{"a":1},{"b":[2]}])"};
    QTest::newRow("incomplete tail kept") << Chunks{a + b.left(10)} << Chunks{a};
    // Braces inside the oversized value must not be taken for the start of a message.
    const QByteArray big = R"({"pad":[)" + QByteArray(R"({"x":"}{"},)").repeated(JsonStreamSplitter::maxValueSize / 10) + "{}]}";
    QTest::newRow("oversized value dropped in one read") << Chunks{big + b} << Chunks{b};
    Chunks reads;
    for (int i = 0; i < big.size(); i += 64 * 1024)
        reads << big.mid(i, 64 * 1024);
    QTest::newRow("oversized value dropped in 64 KiB reads") << reads + Chunks{b} << Chunks{b};
}

void TestJsonStreamSplitter::cutsStreamIntoCompleteValues()
{
    QFETCH(Chunks, chunks);
    QFETCH(Chunks, values);
    JsonStreamSplitter splitter;
    Chunks out;
    for (const QByteArray &chunk : chunks) {
        out += splitter.feed(chunk);
        QVERIFY(splitter.pendingSize() <= JsonStreamSplitter::maxValueSize); // memory stays bounded
    }
    QCOMPARE(out, values);
    QCOMPARE(splitter.droppedValues(), chunks.join().size() > JsonStreamSplitter::maxValueSize ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestJsonStreamSplitter)
#include "tst_jsonstreamsplitter.moc"
