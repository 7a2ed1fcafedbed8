// A player in its own worker thread beside a fake media centre, driven by short scripts:
// "play; expect stop:0, open:a.mp4; onplay 1; pause; expect pause:1".
#pragma once

#include "player/playermanager.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"
#include "tests/support/fakemediacentre.h"

#include <QThread>
#include <QtTest>

class PlayerRig
{
public:
    FakeMediaCentre centre;
    PlayerManager *player = nullptr;

    // Puts config.ini and the playlist files on the stick. Entries named "missing..." are left out.
    static void writeStick(const QStringList &playlist, const QString &settings)
    {
        DeviceFiles::clearStick();
        QByteArray ini = settings.split(';', Qt::SkipEmptyParts).join('\n').toUtf8() + "\n[playlist]\n";
        ini += "size=" + QByteArray::number(playlist.size()) + "\n";
        for (int i = 0; i < playlist.size(); ++i) {
            QString value = playlist.at(i);
            value.replace("\\", "\\\\").replace("\"", "\\\"");
            ini += QByteArray::number(i + 1) + "\\track=" + value.toUtf8() + "\n";
            if (!playlist.at(i).startsWith("missing"))
                DeviceFiles::writeStickFile(playlist.at(i), "media");
        }
        DeviceFiles::writeStickConfig(ini);
    }

    // Builds the player, lets it connect and read its configuration.
    bool start(bool listen = true)
    {
        if (listen && !centre.listen())
            return false;
        player = new PlayerManager;
        QObject::connect(player, &PlayerManager::newDataFromPlayer, &context,
                         [this](const QByteArray &data) { handled << data; }, Qt::QueuedConnection);
        QObject::connect(player, &PlayerManager::initialized, &context,
                         [this] { initializedAtMs << centre.elapsedMs(); }, Qt::QueuedConnection);
        player->moveToThread(&thread);
        thread.start();
        call("connectToPlayer");
        if (!listen)
            return true;
        return waitForLink() && (call("initPlayer"), sync());
    }

    bool waitForLink()
    {
        return QTest::qWaitFor([this] { return centre.clientCount() == 1; }, 5000);
    }

    ~PlayerRig()
    {
        if (player)
            QMetaObject::invokeMethod(player, [p = player] { delete p; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }

    template <typename... Args>
    void call(const char *slot, Args... args)
    {
        QMetaObject::invokeMethod(player, slot, Qt::QueuedConnection, args...);
    }

    // Returns once every request made before it has reached the media centre.
    bool sync()
    {
        const QString tag = QString::number(++syncCount);
        QMetaObject::invokeMethod(player, "showMessage", Qt::QueuedConnection, Q_ARG(QString, "sync"),
                                  Q_ARG(QString, tag), Q_ARG(int, 1));
        return QTest::qWaitFor([&] {
            const auto notes = centre.requests("GUI.ShowNotification");
            return !notes.isEmpty() && notes.last().params()["message"].toString() == tag;
        }, 5000);
    }

    // Pushes bytes and waits until the player has handled each of the messages in them.
    bool push(const QList<QByteArray> &messages, bool split = false)
    {
        QMap<QByteArray, int> expected;
        for (const QByteArray &m : messages)
            expected[m] = handled.count(m) + messages.count(m);
        const QByteArray bytes = joined(messages);
        if (split) {
            // Cut inside a string value, where a reader that trusts read boundaries breaks.
            centre.push(bytes.left(bytes.size() / 2));
            QTest::qWait(100);
            centre.push(bytes.mid(bytes.size() / 2));
        } else {
            centre.push(bytes);
        }
        return QTest::qWaitFor([&] {
            for (auto it = expected.cbegin(); it != expected.cend(); ++it)
                if (handled.count(it.key()) < it.value())
                    return false;
            return true;
        }, 5000);
    }

    // One line per request since the last consumed one: "stop:1", "open:a.mp4", "note:Title|Text".
    QStringList unconsumed() const
    {
        QStringList out;
        const auto all = centre.requests();
        for (int i = consumed; i < all.size(); ++i) {
            const QString line = summary(all.at(i));
            if (!line.isEmpty())
                out << line;
        }
        return out;
    }

    static QString summary(const FakeMediaCentre::Request &r)
    {
        static const QStringList quietTitles{"sync", "Version", "Wersja", "No dmx track", "Update", "Aktualizacja"};
        const QJsonObject p = r.params();
        if (!r.valid)
            return "invalid:" + QString::fromUtf8(r.raw);
        if (r.method() == "Player.Stop")
            return "stop:" + QString::number(p["playerid"].toInt());
        if (r.method() == "Player.Open")
            return "open:" + p["item"]["file"].toString().remove(Box::stickPath() + "/");
        if (r.method() == "Player.PlayPause")
            return (p["play"].toBool() ? "resume:" : "pause:") + QString::number(p["playerid"].toInt());
        if (r.method() == "Application.SetVolume")
            return "volume:" + QString::number(p["volume"].toInt());
        if (r.method() == "GUI.ShowNotification")
            return quietTitles.contains(p["title"].toString()) ? QString()
                                                               : "note:" + p["title"].toString() + "|" + p["message"].toString();
        return "other:" + r.method();
    }

    // Runs a script; returns an empty string on success, else what went wrong.
    // The body of a data-driven test with the columns of addColumns().
    static void runScenario()
    {
        QFETCH(QString, playlist);
        QFETCH(QString, settings);
        QFETCH(QString, script);
        Box::clearCommandLog();
        writeStick(playlist.split(',', Qt::SkipEmptyParts), settings);
        PlayerRig rig;
        QVERIFY(rig.start());
        const QString error = rig.run(script);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    static void addColumns()
    {
        QTest::addColumn<QString>("playlist");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("script");
    }

    QString run(const QString &script)
    {
        for (const QString &rawStep : script.split(';', Qt::SkipEmptyParts)) {
            const QString step = rawStep.trimmed();
            const QString error = runStep(step.section(' ', 0, 0), step.section(' ', 1).trimmed());
            if (!error.isEmpty())
                return step + ": " + error;
        }
        return QString();
    }

    QList<qint64> initializedAtMs;
    qint64 markAtMs = 0;
    qint64 lastMatchAtMs = 0;

private:
    static QByteArray joined(const QList<QByteArray> &parts)
    {
        QByteArray all;
        for (const QByteArray &p : parts)
            all += p;
        return all;
    }

    QByteArray notification(const QString &word, const QString &arg) const
    {
        if (word == "onplay")
            return FakeMediaCentre::onPlay(arg.toInt());
        if (word == "end")
            return FakeMediaCentre::onStop(true, arg.isEmpty() ? -1 : arg.toInt());
        if (word == "stopped")
            return FakeMediaCentre::onStop(false);
        return QByteArray();
    }

    QString expect(const QString &list)
    {
        QStringList wanted;
        for (const QString &item : list.split(',', Qt::SkipEmptyParts))
            wanted << item.trimmed();
        if (!QTest::qWaitFor([&] { return unconsumed().size() >= wanted.size(); }, 15000))
            return "timed out with " + unconsumed().join(", ");
        const QStringList got = unconsumed().mid(0, wanted.size());
        if (got != wanted)
            return "got " + unconsumed().join(", ");
        // Advance past the matched requests, counting the quiet ones in between.
        int matched = 0;
        const auto all = centre.requests();
        while (matched < wanted.size()) {
            if (!summary(all.at(consumed)).isEmpty()) {
                ++matched;
                lastMatchAtMs = all.at(consumed).atMs();
            }
            ++consumed;
        }
        return QString();
    }

    QString runStep(const QString &word, const QString &arg)
    {
        static const QStringList plainSlots{"play", "pause", "stop", "playOnly", "initPlayer"};
        static const QStringList intSlots{"setTrack", "setMode", "setVolume"};
        if (plainSlots.contains(word)) {
            call(word.toLatin1().constData());
        } else if (intSlots.contains(word)) {
            call(word.toLatin1().constData(), Q_ARG(int, arg.toInt()));
        } else if (word == "dmx") {
            call("isDmx", Q_ARG(bool, arg == "on"));
        } else if (word == "glued" || word == "split" || !notification(word, arg).isEmpty()) {
            QList<QByteArray> messages;
            const QString list = (word == "glued" || word == "split") ? arg : word + ' ' + arg;
            for (const QString &part : list.split('+'))
                messages << notification(part.trimmed().section(' ', 0, 0), part.trimmed().section(' ', 1));
            if (!push(messages, word == "split"))
                return "the player did not handle the message";
        } else if (word == "expect") {
            return expect(arg);
        } else if (word == "none") {
            if (!sync())
                return "no sync";
            if (!unconsumed().isEmpty())
                return "unexpected " + unconsumed().join(", ");
        } else if (word == "wait") {
            QTest::qWait(arg.toInt());
        } else if (word == "mark") {
            markAtMs = centre.elapsedMs();
        } else if (word == "took") {
            // "took 450 700": the last expected request came that long after the mark.
            const qint64 took = lastMatchAtMs - markAtMs;
            if (took < arg.section(' ', 0, 0).toInt() || took > arg.section(' ', 1, 1).toInt())
                return QString("took %1 ms").arg(took);
        } else if (word == "damage") {
            const QString path = Box::stickPath() + "/config.ini";
            DeviceFiles::writeFile(path, DeviceFiles::readFile(path) + "[broken\n");
        } else if (word == "rmconfig") {
            DeviceFiles::removeFile(Box::stickPath() + "/config.ini");
        } else if (word == "monitor") {
            const QString line = "vcgencmd display_power " + arg;
            if (!QTest::qWaitFor([&] { return Box::commandLog().contains(line); }, 5000))
                return "no " + line + " in " + Box::commandLog().join(" / ");
            lastMatchAtMs = centre.elapsedMs();
        } else {
            return "unknown step";
        }
        return QString();
    }

    QThread thread;
    QObject context;
    QList<QByteArray> handled;
    int consumed = 0;
    int syncCount = 0;
};
