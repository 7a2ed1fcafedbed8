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
    QList<qint64> initializedAtMs;

    // Puts config.ini and the playlist files on the stick. Entries named "missing..." are left out.
    static void writeStick(const QStringList &playlist, const QString &settings)
    {
        DeviceFiles::clearStick();
        QByteArray ini = settings.split(';').join('\n').toUtf8() + "\n[playlist]\nsize=" + QByteArray::number(playlist.size());
        for (int i = 0; i < playlist.size(); ++i) {
            QString value = playlist.at(i);
            ini += "\n" + QByteArray::number(i + 1) + "\\track=" + value.replace("\\", "\\\\").replace("\"", "\\\"").toUtf8();
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

    // Builds the player in its worker thread, lets it connect and read its configuration.
    bool start(bool listen = true)
    {
        if (listen && !centre.listen())
            return false;
        player = new PlayerManager;
        QObject::connect(player, &PlayerManager::newDataFromPlayer, &context, [this](const QByteArray &data) {
            if (data.contains("\"method\""))
                ++notificationsHandled;
        }, Qt::QueuedConnection);
        QObject::connect(player, &PlayerManager::initialized, &context,
                         [this] { initializedAtMs << centre.elapsedMs(); }, Qt::QueuedConnection);
        player->moveToThread(&thread);
        thread.start();
        call("connectToPlayer");
        return !listen || (waitForLink() && (call("initPlayer"), sync()));
    }

    ~PlayerRig()
    {
        if (player)
            QMetaObject::invokeMethod(player, [p = player] { delete p; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }

    bool waitForLink()
    {
        return QTest::qWaitFor([this] { return centre.clientCount() == 1; }, 5000);
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
        call("showMessage", Q_ARG(QString, "sync"), Q_ARG(QString, tag), Q_ARG(int, 1));
        return QTest::qWaitFor([&] {
            const auto notes = centre.requests("GUI.ShowNotification");
            return !notes.isEmpty() && notes.last().params()["message"].toString() == tag;
        }, 5000);
    }

    // Pushes the messages in one write (or split in two, inside a string) and waits until the
    // player has handled every one of them.
    bool push(const QList<QByteArray> &messages, bool split = false)
    {
        const int target = notificationsHandled + messages.size();
        QByteArray bytes;
        for (const QByteArray &m : messages)
            bytes += m;
        centre.push(split ? bytes.left(bytes.size() / 2) : bytes);
        if (split) {
            QTest::qWait(100);
            centre.push(bytes.mid(bytes.size() / 2));
        }
        return QTest::qWaitFor([&] { return notificationsHandled >= target; }, 5000);
    }

    // Runs a script; returns an empty string on success, else the failed step and what happened.
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

private:
    // One line per request: "stop:1", "open:a.mp4", "note:Title|Text"; notices that come by
    // themselves (start sequence, update check) and sync markers are left out.
    QList<QPair<QString, qint64>> seen() const
    {
        static const QStringList quietTitles{"sync", "Version", "Wersja", "No dmx track", "Update", "Aktualizacja"};
        QList<QPair<QString, qint64>> lines;
        for (const auto &r : centre.requests()) {
            const QJsonObject p = r.params();
            const QString m = r.method();
            QString line = !r.valid ? "invalid:" + QString::fromUtf8(r.raw)
                : m == "Player.Stop" ? "stop:" + QString::number(p["playerid"].toInt())
                : m == "Player.Open" ? "open:" + p["item"]["file"].toString().remove(Box::stickPath() + "/")
                : m == "Player.PlayPause" ? (p["play"].toBool() ? "resume:" : "pause:") + QString::number(p["playerid"].toInt())
                : m == "Application.SetVolume" ? "volume:" + QString::number(p["volume"].toInt())
                : m != "GUI.ShowNotification" ? "other:" + m
                : quietTitles.contains(p["title"].toString()) ? QString()
                : "note:" + p["title"].toString() + "|" + p["message"].toString();
            if (!line.isEmpty())
                lines << qMakePair(line, r.atMs());
        }
        return lines;
    }

    QStringList unconsumed() const
    {
        QStringList lines;
        for (const auto &line : seen().mid(consumed))
            lines << line.first;
        return lines;
    }

    QString expect(const QString &list)
    {
        QStringList wanted;
        for (const QString &item : list.split(','))
            wanted << item.trimmed();
        if (!QTest::qWaitFor([&] { return unconsumed().size() >= wanted.size(); }, 15000))
            return "timed out with " + unconsumed().join(", ");
        if (unconsumed().mid(0, wanted.size()) != wanted)
            return "got " + unconsumed().join(", ");
        consumed += wanted.size();
        lastMatchAtMs = seen().at(consumed - 1).second;
        return QString();
    }

    static QByteArray notification(const QString &word, const QString &arg)
    {
        if (word == "onplay")
            return FakeMediaCentre::onPlay(arg.toInt());
        if (word == "end")
            return FakeMediaCentre::onStop(true, arg.isEmpty() ? -1 : arg.toInt());
        return QByteArray();
    }

    QString runStep(const QString &word, const QString &arg)
    {
        const QString stickConfig = Box::stickPath() + "/config.ini";
        if (QStringList{"play", "pause", "stop", "playOnly", "initPlayer"}.contains(word)) {
            call(word.toLatin1().constData());
        } else if (QStringList{"setTrack", "setMode", "setVolume"}.contains(word)) {
            call(word.toLatin1().constData(), Q_ARG(int, arg.toInt()));
        } else if (word == "dmx") {
            call("isDmx", Q_ARG(bool, arg == "on"));
        } else if (word == "glued" || word == "split" || !notification(word, arg).isEmpty()) {
            // "end", "onplay 2", "glued onplay 1 + end", "split end"
            QList<QByteArray> messages;
            const QString list = (word == "glued" || word == "split") ? arg : word + ' ' + arg;
            for (const QString &part : list.split('+'))
                messages << notification(part.trimmed().section(' ', 0, 0), part.trimmed().section(' ', 1));
            if (!push(messages, word == "split"))
                return "the player did not handle the message";
        } else if (word == "expect") {
            return expect(arg);
        } else if (word == "none") {
            if (!sync() || !unconsumed().isEmpty())
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
            DeviceFiles::writeFile(stickConfig, DeviceFiles::readFile(stickConfig) + "[broken\n");
        } else if (word == "rmconfig") {
            DeviceFiles::removeFile(stickConfig);
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
    int notificationsHandled = 0;
    int consumed = 0;
    int syncCount = 0;
    qint64 markAtMs = 0;
    qint64 lastMatchAtMs = 0;
};
