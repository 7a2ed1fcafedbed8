// The real media centre for tests: Debian's kodi run headless by scripts/kodi-headless, short test
// media on the stick, and a listener that reads the playback notices every client receives.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTcpSocket>

#include "wire/jsonstreamsplitter.h"

class RealMediaCentre
{
public:
    ~RealMediaCentre() { stop(); }
    // Starts it and waits until its port answers; false, with the reason, when it cannot start here.
    bool start(QString *why);
    void stop();

    // `seconds` of video with sound (clip.mp4), one frame of it as a picture (picture.png), as long
    // a tone (tone.mp3) and a video it cannot decode (broken.mp4), written to the stick.
    static bool writeMedia(int seconds, QString *why);

private:
    QProcess m_process;
};

// The notices and error replies of one connection, each as a short line: "OnPlay 1", "OnStop end",
// "OnStop stop" (end false), "OnStop 2 end" (naming the picture player), "OnPause 1", "OnResume 0",
// "OnAVStart 1", "error -32602", "Volume 50", "players 1" or "players none" (the active players).
// Everything else the media centre says is left out.
class MediaCentreWatch : public QObject
{
    Q_OBJECT
public:
    struct Event {
        QString text;
        qint64 atMs;
    };
    explicit MediaCentreWatch(QObject *parent = nullptr);
    bool connectTo(quint16 port);
    void write(const QString &request) { m_socket.write(request.toUtf8()); }
    QList<Event> events() const { return m_events; }
    QStringList texts(int from = 0) const;
    // Waits until `text` (or, with `prefix`, a text starting with it) arrives at index `from` or
    // later; true when it did.
    bool waitFor(const QString &text, int from, int timeoutMs, bool prefix = false);

    static QString describe(const QByteArray &message);

private:
    QTcpSocket m_socket;
    JsonStreamSplitter m_splitter;
    QList<Event> m_events;
    QElapsedTimer m_clock;
};
