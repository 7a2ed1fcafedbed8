#include "wire/mediacentrerequests.h"

#include <QtTest>

// The slots are defined below the class: moc misreads the raw strings' quotes and braces in a class body.
class TestMediaCentreRequests : public QObject
{
    Q_OBJECT
private slots:
    void requestBytesMatchTheMediaCentreTemplates_data();
    void requestBytesMatchTheMediaCentreTemplates();
    void answerListingNoPlayer_data();
    void answerListingNoPlayer();
};

void TestMediaCentreRequests::requestBytesMatchTheMediaCentreTemplates_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QByteArray>("bytes");
    // The irregular spacing is what the media centre has always been sent; keep it.
    QTest::newRow("notification") << MediaCentreRequests::notification("Play", "a.mp4", 2000)
        << QByteArray(R"({"jsonrpc":"2.0","method":"GUI.ShowNotification","params":{"title":"Play","message":"a.mp4", "displaytime": 2000},"id":1})");
    QTest::newRow("volume") << MediaCentreRequests::volume(50)
        << QByteArray(R"({"jsonrpc": "2.0", "method": "Application.SetVolume", "params": {"volume": 50}, "id": 1})");
    QTest::newRow("pause") << MediaCentreRequests::pause(1)
        << QByteArray(R"({"jsonrpc":"2.0","method":"Player.PlayPause","params":{"playerid":1,"play":false},"id":1})");
    QTest::newRow("resume") << MediaCentreRequests::resume(0)
        << QByteArray(R"({"jsonrpc":"2.0","method":"Player.PlayPause","params":{"playerid":0,"play":true},"id":1})");
    QTest::newRow("stop") << MediaCentreRequests::stop(2)
        << QByteArray(R"({"jsonrpc": "2.0", "method": "Player.Stop", "params": { "playerid": 2 }, "id": 1})");
    // Only the open request carries its id as a string.
    QTest::newRow("open, quote and backslash escaped") << MediaCentreRequests::open(R"(/media/ZR605/a"b\c.mp4)")
        << QByteArray(R"({"jsonrpc":"2.0","id":"1","method":"Player.Open","params":{"item":{"file":"/media/ZR605/a\"b\\c.mp4"}}})");
    QTest::newRow("active players, serial in the id") << MediaCentreRequests::activePlayers(42)
        << QByteArray(R"({"jsonrpc":"2.0","method":"Player.GetActivePlayers","id":"active-42"})");
    // One arg() for all: a "%2" in the title must not be replaced by the message. The media centre
    // answers "Invalid params" to a display time under 1500 ms and shows nothing.
    QTest::newRow("control characters escaped, markers kept, short time raised") << MediaCentreRequests::notification("a\nb\t%2\x01", "%1\"", 1000)
        << QByteArray(R"({"jsonrpc":"2.0","method":"GUI.ShowNotification","params":{"title":"a\nb\t%2\u0001","message":"%1\"", "displaytime": 1500},"id":1})");
}

void TestMediaCentreRequests::requestBytesMatchTheMediaCentreTemplates()
{
    QFETCH(QString, request);
    QFETCH(QByteArray, bytes);
    QCOMPARE(request.toUtf8(), bytes);
    QVERIFY(QJsonDocument::fromJson(bytes).isObject());
}

// Only an empty list in the answer to this very look means the item has gone: an error, another
// answer, or an answer about an earlier entry must never pass over the one playing now.
void TestMediaCentreRequests::answerListingNoPlayer_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("none");
    QTest::newRow("empty list") << QByteArray(R"({"id":"active-7","jsonrpc":"2.0","result":[]})") << true;
    QTest::newRow("video listed") << QByteArray(R"({"id":"active-7","jsonrpc":"2.0","result":[{"playerid":1,"playertype":"internal","type":"video"}]})") << false;
    QTest::newRow("earlier entry") << QByteArray(R"({"id":"active-6","jsonrpc":"2.0","result":[]})") << false;
    QTest::newRow("numeric id") << QByteArray(R"({"id":7,"jsonrpc":"2.0","result":[]})") << false;
    QTest::newRow("error") << QByteArray(R"({"error":{"code":-32100,"message":"Failed to execute method."},"id":"active-7","jsonrpc":"2.0"})") << false;
    QTest::newRow("OK to something else") << QByteArray(R"({"id":"active-7","jsonrpc":"2.0","result":"OK"})") << false;
    QTest::newRow("no result") << QByteArray(R"({"id":"active-7","jsonrpc":"2.0"})") << false;
}

void TestMediaCentreRequests::answerListingNoPlayer()
{
    QFETCH(QByteArray, reply);
    QTEST(MediaCentreRequests::listsNoActivePlayer(QJsonDocument::fromJson(reply).object(), 7), "none");
}

QTEST_GUILESS_MAIN(TestMediaCentreRequests)
#include "tst_mediacentrerequests.moc"
