// A player beside a fake media centre, driven by short scripts:
// "play; expect stop:0, open:a.mp4; onplay 1; pause; expect pause:1".
#pragma once

#include "player/playermanager.h"
#include "tests/support/box.h"
#include "tests/support/devicefiles.h"
#include "tests/support/fakemediacentre.h"

#include <QtTest>

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
        Box::clearCommandLog();
        writeStick(playlist.split(',', Qt::SkipEmptyParts), settings);
        PlayerRig rig;
        QVERIFY(rig.start());
        const QString error = rig.run(script);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    // Lets the player link up and read its configuration.
    bool start()
    {
        if (!centre.listen())
            return false;
        QObject::connect(&player, &PlayerManager::newDataFromPlayer, [this](const QByteArray &data) {
            notificationsHandled += data.contains("\"method\"");
        });
        player.connectToPlayer();
        return waitForLink() && QMetaObject::invokeMethod(&player, "initPlayer") && sync();
    }

    bool waitForLink()
    {
        return QTest::qWaitFor([this] { return centre.clientCount() == 1; }, 5000);
    }

    // Returns once every request made before it has reached the media centre.
    bool sync()
    {
        const QString tag = QString::number(++syncCount);
        player.showMessage("sync", tag, 1);
        return QTest::qWaitFor([&] {
            const auto notes = centre.requests("GUI.ShowNotification");
            return !notes.isEmpty() && notes.last().params()["message"].toString() == tag;
        }, 5000);
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
    // One line per request: "stop:1", "open:a.mp4", "note:Title|Text", with its arrival in `times`;
    // notices that come by themselves (start sequence, update check) and sync markers are left out.
    QStringList seen(QList<qint64> *times = nullptr) const
    {
        static const QStringList quietTitles{"sync", "Version", "Wersja", "No dmx track", "Update", "Aktualizacja"};
        QStringList lines;
        for (const auto &r : centre.requests()) {
            const QJsonObject p = r.params();
            const QString m = r.method(), id = QString::number(p["playerid"].toInt());
            const QString line = m == "Player.Stop" ? "stop:" + id
                : m == "Player.Open" ? "open:" + p["item"]["file"].toString().remove(Box::stickPath() + "/")
                : m == "Player.PlayPause" ? (p["play"].toBool() ? "resume:" : "pause:") + id
                : m == "Application.SetVolume" ? "volume:" + QString::number(p["volume"].toInt())
                : m != "GUI.ShowNotification" ? "other:" + m
                : quietTitles.contains(p["title"].toString()) ? QString()
                : "note:" + p["title"].toString() + "|" + p["message"].toString();
            if (!line.isEmpty() && times)
                *times << r.atMs();
            if (!line.isEmpty())
                lines << line;
        }
        return lines;
    }

    QStringList unconsumed() const { return seen().mid(consumed); }

    QString expect(const QString &list)
    {
        const QStringList wanted = list.split(QRegularExpression(",\\s*"));
        if (!QTest::qWaitFor([&] { return unconsumed().size() >= wanted.size(); }, 15000))
            return "timed out with " + unconsumed().join(", ");
        if (unconsumed().mid(0, wanted.size()) != wanted)
            return "got " + unconsumed().join(", ");
        consumed += wanted.size();
        QList<qint64> times;
        seen(&times);
        lastMatchAtMs = times.at(consumed - 1);
        return QString();
    }

    QString runStep(const QString &word, const QString &arg)
    {
        const QString stickConfig = Box::stickPath() + "/config.ini";
        if (QStringList{"play", "pause", "stop", "playOnly", "initPlayer"}.contains(word)) {
            QMetaObject::invokeMethod(&player, word.toLatin1());
        } else if (QStringList{"setTrack", "setMode", "setVolume"}.contains(word)) {
            QMetaObject::invokeMethod(&player, word.toLatin1(), Q_ARG(int, arg.toInt()));
        } else if (word == "dmx") {
            player.isDmx(arg == "on");
        } else if (QStringList{"onplay", "end", "glued"}.contains(word)) {
            // "end", "end 2", "onplay 2", "glued onplay 1 + end": pushed in one write, each handled before the next step
            QList<QByteArray> messages;
            for (const QString &part : (word == "glued" ? arg : word + ' ' + arg).split('+')) {
                const QString kind = part.trimmed().section(' ', 0, 0), id = part.trimmed().section(' ', 1);
                messages << (kind == "onplay" ? FakeMediaCentre::onPlay(id.toInt()) : FakeMediaCentre::onStop(true, id.isEmpty() ? -1 : id.toInt()));
            }
            const int target = notificationsHandled + messages.size();
            centre.push(messages.join());
            if (!QTest::qWaitFor([&] { return notificationsHandled >= target; }, 5000))
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
        } else if (word == "drop") {
            centre.dropClients();
        } else if (word == "relink") {
            if (!waitForLink())
                return "no link";
            lastMatchAtMs = centre.elapsedMs();
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

    int notificationsHandled = 0;
    int consumed = 0;
    int syncCount = 0;
    qint64 markAtMs = 0;
    qint64 lastMatchAtMs = 0;
};
