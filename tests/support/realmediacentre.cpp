#include "tests/support/realmediacentre.h"

#include "tools/standins/box.h"
#include "tools/standins/devicefiles.h"

#include <QtTest>

bool RealMediaCentre::start(QString *why)
{
    m_process.start(QUORVANT_SOURCE_DIR "/scripts/kodi-headless", {"run", "/tmp/kodi-home"});
    // However long the media centre takes: the script gives up after its own bound (600 s by
    // default) and says so; this wait only covers a script that hangs past that.
    const bool answered = QTest::qWaitFor([this] { return m_process.canReadLine() || m_process.state() == QProcess::NotRunning; }, 660000);
    if (answered && m_process.readLine().startsWith("ready"))
        return true;
    *why = "the media centre cannot start here: " + QString::fromUtf8(m_process.readAllStandardError());
    return false;
}

void RealMediaCentre::stop()
{
    // The script stops the media centre, its display and its sound server.
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(15000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool RealMediaCentre::writeMedia(int seconds, QString *why)
{
    QProcess ffmpeg;
    ffmpeg.setWorkingDirectory(Box::stickPath());
    ffmpeg.start("ffmpeg", QString("-v error -y -f lavfi -i testsrc=duration=%1:size=160x120:rate=25 -f lavfi -i sine=duration=%1 "
        "-map 0 -map 1 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest clip.mp4 -map 0 -frames:v 1 picture.png -map 1 tone.mp3").arg(seconds).split(' '));
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0) {
        *why = "ffmpeg: " + QString::fromUtf8(ffmpeg.readAllStandardError());
        return false;
    }
    // A file copied half onto the stick looks like this: the clip's header, then noise.
    QByteArray broken = DeviceFiles::readFile(Box::stickPath() + "/clip.mp4").left(64);
    QRandomGenerator noise(605);
    for (int i = 0; i < 300000 / 4; ++i) {
        const quint32 word = noise.generate();
        broken.append(reinterpret_cast<const char *>(&word), sizeof word);
    }
    DeviceFiles::writeStickFile("broken.mp4", broken);
    return true;
}

MediaCentreWatch::MediaCentreWatch(QObject *parent)
    : QObject(parent)
{
    m_clock.start();
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        for (const QByteArray &message : m_splitter.feed(m_socket.readAll())) {
            const QString text = describe(message);
            if (!text.isEmpty())
                m_events << Event{text, m_clock.elapsed()};
        }
    });
}

bool MediaCentreWatch::connectTo(quint16 port)
{
    m_socket.connectToHost(QHostAddress::LocalHost, port);
    return m_socket.waitForConnected(5000);
}

QStringList MediaCentreWatch::texts(int from) const
{
    QStringList out;
    for (int i = from; i < m_events.size(); ++i)
        out << m_events.at(i).text;
    return out;
}

bool MediaCentreWatch::waitFor(const QString &text, int from, int timeoutMs, bool prefix)
{
    return QTest::qWaitFor([&] {
        const QStringList seen = texts(from);
        return prefix ? std::any_of(seen.begin(), seen.end(), [&](const QString &t) { return t.startsWith(text); }) : seen.contains(text);
    }, timeoutMs);
}

QString MediaCentreWatch::describe(const QByteArray &message)
{
    const QJsonObject json = QJsonDocument::fromJson(message).object();
    if (json.contains("error"))
        return "error " + QString::number(json["error"]["code"].toInt());
    if (json["result"].isArray()) {
        QStringList players;
        for (const QJsonValue player : json["result"].toArray())
            players << QString::number(player["playerid"].toInt());
        return "players " + (players.isEmpty() ? QString("none") : players.join(' '));
    }
    const QString method = json["method"].toString();
    const QJsonValue data = json["params"]["data"];
    const QJsonValue player = data["player"]["playerid"];
    const QString id = player.isDouble() ? QString::number(player.toInt()) + ' ' : QString();
    if (method == "Player.OnStop")
        return "OnStop " + id + (data["end"].toBool() ? "end" : "stop");
    if (method == "Player.OnPlay" || method == "Player.OnPause" || method == "Player.OnResume" || method == "Player.OnAVStart")
        return method.mid(7) + ' ' + id.trimmed();
    if (method == "Application.OnVolumeChanged")
        return "Volume " + QString::number(data["volume"].toInt());
    return {};
}
