// A player beside a fake media centre, driven by short scripts:
// "play; expect stop:0, open:a.mp4; onplay 1; pause; expect pause:1".
#pragma once

#include "player/playermanager.h"
#include "tests/support/testmain.h"

class PlayerRig
{
public:
    FakeMediaCentre centre;
    PlayerManager player; // reads the playlist when built: write the stick first

    // Puts config.ini ("key=value;key=value") and the playlist files on the stick; entries named
    // "missing..." are listed but not written. No entries: no [playlist] written.
    static void writeStick(const QStringList &playlist, const QString &settings)
    {
        DeviceFiles::clearStick();
        QByteArray ini = settings.split(';').join('\n').toUtf8();
        if (!playlist.isEmpty())
            ini += "\n[playlist]\nsize=" + QByteArray::number(playlist.size());
        for (int i = 0; i < playlist.size(); ++i) {
            ini += "\n" + QByteArray::number(i + 1) + "\\track=" + playlist.at(i).toUtf8();
            if (!playlist.at(i).startsWith("missing"))
                DeviceFiles::writeStickFile(playlist.at(i), "media");
        }
        DeviceFiles::writeStickConfig(ini + "\n");
    }

    static void addColumns()
    {
        QTest::addColumn<QString>("playlist");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("script");
    }

    static void row(const char *name, const QString &playlist, const QString &settings, const QString &script)
    {
        QTest::newRow(name) << playlist << settings << script;
    }

    // The body of a data-driven test with the columns of addColumns().
    static void runScenario()
    {
        QFETCH(QString, playlist);
        QFETCH(QString, settings);
        QFETCH(QString, script);
        writeStick(playlist.split(',', Qt::SkipEmptyParts), settings);
        PlayerRig rig;
        QVERIFY(rig.start());
        rig.run(script);
    }

    // Lets the player link up and read its configuration.
    bool start()
    {
        QObject::connect(&player, &PlayerManager::newDataFromPlayer, [this](const QByteArray &data) { notificationsHandled += data.contains("\"method\""); });
        const bool listening = centre.listen();
        player.connectToPlayer();
        return listening && waitForLink() && QMetaObject::invokeMethod(&player, "initPlayer") && sync();
    }

    bool waitForLink() { return QTest::qWaitFor([this] { return centre.clientCount() == 1; }, 5000); }

    // Returns once every request made before it has reached the media centre.
    bool sync()
    {
        const QString tag = QString::number(++syncCount);
        player.showMessage("sync", tag, 1);
        return QTest::qWaitFor([&] {
            const auto notes = centre.requests("GUI.ShowNotification");
            return !notes.isEmpty() && notes.last().params()["message"] == tag;
        }, 5000);
    }

    // Runs a script step by step; a failed step fails the test and ends every script of this rig.
    void run(const QString &script)
    {
        for (const QString &step : script.split(';', Qt::SkipEmptyParts)) {
            if (QTest::currentTestFailed())
                return;
            current = step.trimmed();
            runStep(current.section(' ', 0, 0), current.section(' ', 1));
        }
    }

private:
    // The lines of FakeMediaCentre::line() not yet matched by "expect", without the notices that
    // come by themselves (start sequence, update check) and the sync markers; seenAtMs gets the
    // arrival of every line.
    QStringList unconsumed()
    {
        static const QRegularExpression quiet("^note:(sync|Version|Wersja|No dmx track|Update|Aktualizacja)\\|");
        QStringList lines;
        seenAtMs.clear();
        for (const auto &r : centre.requests())
            if (!FakeMediaCentre::line(r).contains(quiet)) {
                lines << FakeMediaCentre::line(r);
                seenAtMs << r.atMs();
            }
        return lines.mid(consumed);
    }

#define STEP_VERIFY(condition, what) QVERIFY2(condition, qPrintable(current + ": " + (what)))
    void runStep(const QString &word, const QString &arg)
    {
        const QString stickConfig = Box::stickPath() + "/config.ini";
        if (word == "dmx") {
            player.isDmx(arg == "on");
        } else if (QStringList{"onplay", "announced", "avstart", "end", "glued"}.contains(word)) {
            // "end", "end 2", "onplay 2", "glued onplay 1 + end": pushed in one write, each handled
            // before the next step. "onplay 1" is an item that starts (audio and video also report
            // their start); "announced 1" is only reported playing (an item that cannot be decoded,
            // or one slow to start: "avstart 1" starts it).
            QByteArray bytes;
            int count = 0;
            for (const QString &part : (word == "glued" ? arg : word + ' ' + arg).split('+')) {
                const QString kind = part.trimmed().section(' ', 0, 0), id = part.trimmed().section(' ', 1);
                const QList<QByteArray> messages = kind == "end" ? QList<QByteArray>{FakeMediaCentre::onStop(true, id.isEmpty() ? -1 : id.toInt())}
                    : kind == "avstart" ? QList<QByteArray>{FakeMediaCentre::onAvStart(id.toInt())}
                    : kind == "announced" || id == "2" ? QList<QByteArray>{FakeMediaCentre::onPlay(id.toInt())}
                    : QList<QByteArray>{FakeMediaCentre::onPlay(id.toInt()), FakeMediaCentre::onAvStart(id.toInt())};
                for (const QByteArray &message : messages)
                    bytes += message;
                count += messages.size();
            }
            const int target = notificationsHandled + count;
            centre.push(bytes);
            STEP_VERIFY(QTest::qWaitFor([&] { return notificationsHandled >= target; }, 5000), "the player did not handle it");
        } else if (word == "gone" || word == "alive") {
            // Answers the player's next look at the active players: none (the item has gone), or
            // the video player.
            const auto asked = [&] { return centre.requests("Player.GetActivePlayers").size() > answeredLooks; };
            STEP_VERIFY(QTest::qWaitFor(asked, 10000), "the player did not ask");
            const QJsonValue id = centre.requests("Player.GetActivePlayers").at(answeredLooks++).json.value("id");
            const QJsonArray players = word == "gone" ? QJsonArray() : QJsonArray{QJsonObject{{"playerid", 1}, {"type", "video"}}};
            centre.push(QJsonDocument(QJsonObject{{"id", id}, {"jsonrpc", "2.0"}, {"result", players}}).toJson(QJsonDocument::Compact));
            STEP_VERIFY(sync(), "no sync");
        } else if (word == "refused") {
            // The media centre's answer to an Open of a file that is not there.
            centre.push(R"({"error":{"code":-32602,"message":"Invalid params."},"id":"1","jsonrpc":"2.0"})");
            STEP_VERIFY(sync(), "no sync");
        } else if (word == "cut") {
            // A message the media centre never finishes, then silence: the player must give it up by
            // itself (and not before a second) so that the messages after it are heard.
            const QByteArray bytes = arg == "string" ? R"({"jsonrpc":"2.0","method":")" + QByteArray(JsonStreamSplitter::maxValueSize + 1, 'x')
                : arg == "nested" ? QByteArray(100000, '[')
                : R"({"jsonrpc":"2.0","method":"Player.OnPlay","params":{"data":{"item":{"title":"a.mp4","ty)";
            const int dropsBefore = droppedUnfinished();
            QElapsedTimer pushed;
            pushed.start();
            centre.push(bytes);
            STEP_VERIFY(QTest::qWaitFor([&] { return droppedUnfinished() > dropsBefore; }, 10000), "never given up");
            STEP_VERIFY(pushed.elapsed() >= 900, QString::number(pushed.elapsed()) + " ms");
        } else if (word == "rm") {
            DeviceFiles::removeFile(Box::stickPath() + '/' + arg);
        } else if (word == "pull" || word == "plug") {
            // The stick leaves (unmounted) or comes back (mounted again, with the file named).
            STEP_VERIFY(word == "pull" ? DeviceFiles::unmountStick() : DeviceFiles::mountStick(), "mount");
            if (word == "plug" && !arg.isEmpty())
                DeviceFiles::writeStickFile(arg, "media");
        } else if (word == "expect") {
            const QStringList wanted = arg.split(QRegularExpression(",\\s*"));
            const bool arrived = QTest::qWaitFor([&] { return unconsumed().size() >= wanted.size(); }, 15000);
            const QStringList got = unconsumed();
            STEP_VERIFY(arrived && got.mid(0, wanted.size()) == wanted, "got " + got.join(", "));
            consumed += wanted.size();
            lastMatchAtMs = seenAtMs.at(consumed - 1);
        } else if (word == "none") {
            STEP_VERIFY(sync(), "no sync");
            STEP_VERIFY(unconsumed().isEmpty(), "unexpected " + unconsumed().join(", "));
        } else if (word == "opened") {
            // "opened 3": the files opened since the last "expect" are that many different ones.
            const QStringList opens = sync() ? unconsumed().filter("open:") : QStringList();
            STEP_VERIFY(QSet<QString>(opens.begin(), opens.end()).size() == arg.toInt(), opens.join(", "));
        } else if (word == "wait") {
            QTest::qWait(arg.toInt());
        } else if (word == "mark") {
            markAtMs = centre.elapsedMs();
        } else if (word == "took") {
            // "took 450 700": the last expected request came that long after the mark.
            const qint64 took = lastMatchAtMs - markAtMs;
            STEP_VERIFY(took >= arg.section(' ', 0, 0).toInt() && took <= arg.section(' ', 1).toInt(), QString::number(took));
        } else if (word == "drop") {
            centre.dropClients();
        } else if (word == "relink") {
            STEP_VERIFY(waitForLink(), "no link");
            lastMatchAtMs = centre.elapsedMs();
        } else if (word == "damage") {
            DeviceFiles::writeFile(stickConfig, DeviceFiles::readFile(stickConfig) + "[broken\n");
        } else if (word == "rmconfig") {
            DeviceFiles::removeFile(stickConfig);
        } else if (word == "monitor") {
            STEP_VERIFY(QTest::qWaitFor([&] { return Box::commandLog().contains("vcgencmd display_power " + arg); }, 5000), Box::commandLog().join(" / "));
            lastMatchAtMs = centre.elapsedMs();
        } else {
            // A slot: play, pause, stop, playOnly, initPlayer; setTrack 2, setMode 1, setVolume 63.
            STEP_VERIFY(arg.isEmpty() ? QMetaObject::invokeMethod(&player, word.toLatin1())
                                      : QMetaObject::invokeMethod(&player, word.toLatin1(), Q_ARG(int, arg.toInt())), "unknown step");
        }
    }
#undef STEP_VERIFY

    // How often the player has logged giving up an unfinished message.
    static int droppedUnfinished()
    {
        static int count = 0;
        static bool installed = false;
        static QtMessageHandler previous = nullptr;
        if (!installed) {
            installed = true;
            previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
                count += text.startsWith("unfinished message from player dropped");
                previous(type, context, text);
            });
        }
        return count;
    }

    QString current; // the step running
    int notificationsHandled = 0;
    int consumed = 0;
    int syncCount = 0;
    int answeredLooks = 0;
    qint64 markAtMs = 0;
    qint64 lastMatchAtMs = 0;
    QList<qint64> seenAtMs;
};
