#ifndef PLAYERMANAGER_H
#define PLAYERMANAGER_H

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QStorageInfo>
#include <QStringList>
#include <QTranslator>

#include "wire/jsonstreamsplitter.h"

class QTcpSocket;
class QTimer;
class PlayerUsbStickManager;

// Drives the media centre over its JSON-RPC link: playlist, transport commands, play
// modes, on-screen notices and the reaction to the DMX signal. Lives in a worker thread.
class PlayerManager : public QObject
{
    Q_OBJECT
public:
    // Tests build their own instances; the daemon uses getInstance().
    explicit PlayerManager(QObject *parent = nullptr);

    static PlayerManager *getInstance(QObject *parent = nullptr);

    static constexpr quint16 mediaCentrePort = 9999;

signals:
    void initialized();
    void newDataFromPlayer(QByteArray data);
    void sendCmd(QString cmd);

public slots:
    void setTrack(int track);
    void setVolume(int vol);
    void setMode(int mode);
    void play();
    void playOnly();
    void pause();
    void stop();
    void breakImage();
    void showInfo(QString title, QString info, int msduration = 1500);
    void showMessage(QString title, QString info, int msduration = 1500);
    void connectToPlayer();
    void isDmx(bool dmxon);

private slots:
    void sendToPlayer(QString cmd);
    void readFromSocket();
    void initPlayer();
    void recognizeAnswer(QByteArray data);
    void onTrackEnd();
    void connectedToPlayer();
    void socketError(QAbstractSocket::SocketError _error);
    void retryLink();
    void turnOnMonitor();
    void turnOffMonitor();
    void switchMonitor(bool on);
    void updateVolume();
    void playNewTrack();

private:
    enum PlayState { Playing = 0, Paused = 1, Stopped = 2 };
    enum PlayMode { Single = 0, LoopSingle = 1, Playlist = 2, LoopPlaylist = 3, Shuffle = 4 };
    enum NoDmxAction { PlayStandbyTrack = 0, StopPlayback = 1, MonitorOff = 2 };
    static constexpr int picturePlayerId = 2;

    // The life of the one entry the box shows. entryTimer serves the state it is in: while Opening
    // or Starting it looks again whether the entry is still coming; in Leaving it ends the entry
    // (onTrackEnd); in GivenUp it looks for a stick put back.
    enum class Entry {
        Idle,      // nothing opened: stopped, ended, or a placeholder in the single modes
        Opening,   // Open sent; the media centre has not reported it playing yet
        Starting,  // reported playing (audio or video), its picture and sound not yet started
        Cancelled, // stopped while Opening: gets its own stop once it reports playing
        Shown,     // playing: sound or picture started, or a still image shown
        Leaving,   // passed over or ended by the box; onTrackEnd follows when entryTimer fires
        GivenUp,   // a whole round could not play: waits for a command or a stick put back
    };

    bool send(const QString &cmd);
    void runStartSequence();
    void showVersion();
    void checkForUpdates();
    void readPlaylist();
    QString stickRoot() const;
    bool stickMounted() const;
    QString entryPath() const;
    bool indexValid() const;
    void setEntry(Entry state, int timerMs = -1);
    void playCurrent();
    void startEntry(int skipDelayMs);
    void openEntry();
    void beginOpening();
    void onPlayReported();
    void onAvStarted();
    void onOpenRefused();
    void onEntryTimer();
    void checkStillStarting();
    void passOver(bool stopPlayer);
    bool wholeRoundUnplayable() const;
    void retryAfterGivingUp();
    void stopPlayer();
    void endEntryAfter(int ms);
    void advanceAfterTrackEnd();
    void onDmxReturned();
    void onDmxLost();
    void watchOpenValue();
    void dropUnfinishedMessage();

    QTcpSocket *socket = nullptr;
    QStringList trackList;
    QStorageInfo usbStorage;
    QTranslator translator;
    int playMode = 0;
    int volume = 100;
    int selectedTrack = 0;
    int currentTrack = 0;
    int playState = 2;
    int previousState = 2;
    int playerId = 0;
    int imageInterval = 5000;
    int noDmxAction = 0;
    int noDmxMode = 0;
    int noDmxTrack = 0;
    int noDmxVolume = 100;
    bool showOsd = false;
    bool dmxPresent = true;
    QTimer *imageTimer = nullptr;
    QTimer *volumeTimer = nullptr;
    QTimer *trackTimer = nullptr;
    QTimer *retryTimer = nullptr;
    PlayerUsbStickManager *usbStickManager = nullptr;

    Entry entry = Entry::Idle;
    QTimer *entryTimer = nullptr;
    QElapsedTimer openedAt;  // the playing time an Opening or Starting entry has had so far
    int openSerial = 0;      // tells the answer to a look at the players from an earlier entry's
    QSet<int> unplayable;    // entries passed over since something last played
    bool stickWasAway = false;
    bool restartAtLink = false;

    JsonStreamSplitter splitter;
    QTimer *openValueTimer = nullptr;
    quint64 timedValue = 0;  // the open value openValueTimer bounds, by the splitter's count
    bool sending = false;
    bool readDeferred = false;
    bool translatorInstalled = false;

    static PlayerManager *inst;
};

#endif // PLAYERMANAGER_H
