#include "wire/jsonstreamsplitter.h"

#include <QtTest>

using Chunks = QList<QByteArray>;

// The slots are defined below the class: moc misreads the raw strings' quotes and braces in a class body.
class TestJsonStreamSplitter : public QObject
{
    Q_OBJECT
private slots:
    void cutsStreamIntoCompleteValues_data();
    void cutsStreamIntoCompleteValues();
    void valueGivenUpLetsLaterValuesThrough_data();
    void valueGivenUpLetsLaterValuesThrough();
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
    JsonStreamSplitter splitter;
    Chunks out;
    for (const QByteArray &chunk : chunks) {
        out += splitter.feed(chunk);
        QVERIFY(splitter.pendingSize() <= JsonStreamSplitter::maxValueSize); // memory stays bounded
    }
    QTEST(out, "values");
    // Noise begins no value, and between values there is nothing to give up (a tail left open is
    // the next test's).
    QCOMPARE(splitter.valuesBegun(), quint64(out.size() + splitter.droppedValues()));
    QVERIFY(!splitter.dropOpenValue());
    QCOMPARE(splitter.droppedValues(), chunks.join().size() > JsonStreamSplitter::maxValueSize ? 1 : 0);
}

void TestJsonStreamSplitter::valueGivenUpLetsLaterValuesThrough_data()
{
    QTest::addColumn<QByteArray>("unfinished");
    QTest::newRow("object cut short") << QByteArray(R"({"jsonrpc":"2.0","method":"Player.OnPl)");
    QTest::newRow("cut inside a nested value") << QByteArray(R"({"params":{"data":{"item":)");
    QTest::newRow("cut after a backslash in a string") << QByteArray(R"({"t":"a\)");
    QTest::newRow("string that never ends") << QByteArray(R"({"t":")") + QByteArray(1000, 'x');
    QTest::newRow("brackets that never close") << QByteArray(100000, '[');
    // Already counted when it outgrew the bound; giving it up is not a second drop.
    QTest::newRow("oversized, being discarded") << QByteArray("[") + QByteArray(JsonStreamSplitter::maxValueSize + 1, ' ');
}

// Whole values that follow one left open are taken into it (its braces never balance) until it is
// given up; from then on each is heard again.
void TestJsonStreamSplitter::valueGivenUpLetsLaterValuesThrough()
{
    QFETCH(QByteArray, unfinished);
    const QByteArray whole = R"({"id":1,"jsonrpc":"2.0","result":"OK"})";
    JsonStreamSplitter splitter;
    QVERIFY(splitter.feed(unfinished).isEmpty());
    QVERIFY(splitter.inValue());
    const quint64 begun = splitter.valuesBegun();
    QVERIFY(splitter.feed(whole).isEmpty());
    QCOMPARE(splitter.valuesBegun(), begun); // still the same value
    QVERIFY(splitter.dropOpenValue());
    QVERIFY(!splitter.inValue());
    QCOMPARE(splitter.pendingSize(), 0);
    QCOMPARE(splitter.droppedValues(), 1);
    QCOMPARE(splitter.feed(whole + whole.left(7)), Chunks{whole});
    QCOMPARE(splitter.valuesBegun(), begun + 2);
    QCOMPARE(splitter.feed(whole.mid(7)), Chunks{whole});
}

QTEST_GUILESS_MAIN(TestJsonStreamSplitter)
#include "tst_jsonstreamsplitter.moc"
