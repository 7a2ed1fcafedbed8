#include "player/jsonstreamsplitter.h"
#include "tests/support/box.h"

#include <QtTest>

using Chunks = QList<QByteArray>;

class TestJsonStreamSplitter : public QObject
{
    Q_OBJECT
private slots:
    void cutsStreamIntoCompleteValues_data();
    void cutsStreamIntoCompleteValues();
    void byteByByteGivesTheSameValues();
    void oversizedValueIsDroppedAndTheStreamResumes_data();
    void oversizedValueIsDroppedAndTheStreamResumes();
};

void TestJsonStreamSplitter::cutsStreamIntoCompleteValues_data()
{
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<Chunks>("values");
    const QByteArray a = R"({"method":"Player.OnPlay","params":{"data":{"player":{"playerid":2}}}})";
    const QByteArray b = R"({"id":1,"jsonrpc":"2.0","result":"OK"})";
    QTest::newRow("one value") << Chunks{a} << Chunks{a};
    QTest::newRow("two glued in one read") << Chunks{a + b} << Chunks{a, b};
    QTest::newRow("split between objects") << Chunks{a.left(20), a.mid(20) + b.left(5), b.mid(5)} << Chunks{a, b};
    QTest::newRow("braces inside a string") << Chunks{R"({"t":"}{ }}"})"} << Chunks{R"({"t":"}{ }}"})"};
    QTest::newRow("escaped quote split after the backslash")
        << Chunks{R"({"t":"a\)", R"("}"})"} << Chunks{R"({"t":"a\"}"})"};
    QTest::newRow("string ending in a backslash") << Chunks{R"({"t":"C:\\"}{"u":1})"}
                                                  << Chunks{R"({"t":"C:\\"})", R"({"u":1})"};
    QTest::newRow("noise between values skipped") << Chunks{"\r\n" + a + "xyz\n" + b + " 42 "} << Chunks{a, b};
    QTest::newRow("array value") << Chunks{R"([{"a":1},{"b":[2]}])"} << Chunks{R"([{"a":1},{"b":[2]}])"};
    QTest::newRow("stray closers between values ignored") << Chunks{"}]" + b} << Chunks{b};
    QTest::newRow("incomplete tail kept") << Chunks{a + b.left(10)} << Chunks{a};
}

void TestJsonStreamSplitter::cutsStreamIntoCompleteValues()
{
    QFETCH(Chunks, chunks);
    QFETCH(Chunks, values);
    JsonStreamSplitter splitter;
    Chunks out;
    for (const QByteArray &chunk : chunks)
        out += splitter.feed(chunk);
    QCOMPARE(out, values);
}

void TestJsonStreamSplitter::byteByByteGivesTheSameValues()
{
    const QByteArray stream = R"({"a":"x\"}"}  {"b":{"c":[1,2,"]"]}}[3])";
    JsonStreamSplitter splitter;
    Chunks out;
    for (char c : stream)
        out += splitter.feed(QByteArray(1, c));
    QCOMPARE(out, (Chunks{R"({"a":"x\"}"})", R"({"b":{"c":[1,2,"]"]}})", "[3]"}));
    QCOMPARE(splitter.pendingSize(), 0);
}

void TestJsonStreamSplitter::oversizedValueIsDroppedAndTheStreamResumes_data()
{
    QTest::addColumn<int>("chunkSize");
    QTest::newRow("arriving in one read") << 0;
    QTest::newRow("arriving in 64 KiB reads") << 64 * 1024;
}

void TestJsonStreamSplitter::oversizedValueIsDroppedAndTheStreamResumes()
{
    QFETCH(int, chunkSize);
    // Nested braces inside the big value must not be taken for the start of a message.
    QByteArray big = R"({"pad":[)";
    while (big.size() <= JsonStreamSplitter::maxValueSize)
        big += R"({"x":"}{"},)";
    big += R"({}]})";
    const QByteArray next = R"({"method":"Player.OnStop"})";
    const QByteArray stream = big + next;

    JsonStreamSplitter splitter;
    Chunks out;
    const int step = chunkSize > 0 ? chunkSize : stream.size();
    for (int i = 0; i < stream.size(); i += step) {
        out += splitter.feed(stream.mid(i, step));
        QVERIFY(splitter.pendingSize() <= JsonStreamSplitter::maxValueSize);
    }
    QCOMPARE(out, Chunks{next});
    QCOMPARE(splitter.droppedValues(), 1);
}

QUORVANT_TEST_MAIN(TestJsonStreamSplitter)
#include "tst_jsonstreamsplitter.moc"
