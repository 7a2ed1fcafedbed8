#include "player/playermanager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpSocket>
#include <QTimer>

#include <cstdlib>
#include <limits>
#include <utility>

#include "maintenance/playerusbstickmanager.h"
#include "maintenance/stickconfig.h"
#include "maintenance/updater.h"
#include "wire/mediacentrerequests.h"

PlayerManager *PlayerManager::inst = nullptr;

namespace {
const QString emptyEntry = QStringLiteral("Empty");
const QString configFileName = QStringLiteral("/config.ini");
constexpr int maxPlaylistSize = 65536;
constexpr int linkRetryMs = 1000;
constexpr int startSequenceMs = 2000;
constexpr int versionNoticeMs = 8000;
constexpr int noticeMs = 5000;
constexpr int coalesceMs = 500;
constexpr int breakImageToEndMs = 100;
constexpr int emptySkipMs = 500;
constexpr int pausedPictureSkipMs = 10;
constexpr int monitorSwitchMs = 300;
constexpr int standbyPlayMs = 1000;
constexpr int writeWaitMs = 1000;
// Sound and picture start within a second or two of the Open here, 5 s under heavy load; a file the
// media centre cannot decode is reported playing and then gone from its players. So a reported entry
// that has not started is looked at every few seconds, and one that is still not there after a
// minute of playing time is passed over whatever the media centre says.
constexpr int startCheckMs = 3000;
constexpr qint64 startBoundMs = 60000;
constexpr int stickLookMs = 2000;
// The media centre writes each message whole, so a message still unfinished after everything that
// arrived has been read was cut short: left open it would swallow every later one.
constexpr int openValueBoundMs = 1000;
constexpr qint64 readBufferBytes = 256 * 1024;

// Made by the first player in the main thread and kept there without a parent: its timers run the
// install and the reboot there while the player lives in its worker thread.
Updater *updater()
{
    static Updater *const instance = new Updater;
    return instance;
}
}

PlayerManager::PlayerManager(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");

    imageTimer = new QTimer(this);
    volumeTimer = new QTimer(this);
    trackTimer = new QTimer(this);
    volumeTimer->setSingleShot(true);
    trackTimer->setSingleShot(true);
    connect(volumeTimer, &QTimer::timeout, this, &PlayerManager::updateVolume);
    connect(imageTimer, &QTimer::timeout, this, &PlayerManager::breakImage);
    connect(trackTimer, &QTimer::timeout, this, &PlayerManager::playNewTrack);
    entryTimer = new QTimer(this);
    entryTimer->setSingleShot(true);
    connect(entryTimer, &QTimer::timeout, this, &PlayerManager::onEntryTimer);
    connect(updater(), &Updater::updateInfo, this, &PlayerManager::showInfo);
    connect(updater(), &Updater::updateWarning, this, &PlayerManager::showMessage);

    // No parent here: the watcher belongs to the main thread and must not move with
    // this object into the worker thread, nor die with a test's player instance.
    usbStickManager = PlayerUsbStickManager::getInstance(nullptr);
    const bool found = usbStickManager->findUsbStick();
    qDebug() << "pendrive found:" << found;
    usbStorage = usbStickManager->usbStick();
    readPlaylist();
    usbStickManager->watchPendriveContent();

    socket = new QTcpSocket(this);
    connect(this, &PlayerManager::sendCmd, this, &PlayerManager::sendToPlayer);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Unbounded, the socket took in whatever a runaway media centre sent faster than the splitter
    // scanned it (hundreds of MiB in seconds); bounded, the sender waits.
    socket->setReadBufferSize(readBufferBytes);
    connect(socket, &QTcpSocket::connected, this, &PlayerManager::connectedToPlayer);
    connect(socket, &QTcpSocket::readyRead, this, &PlayerManager::readFromSocket);
    connect(socket, &QTcpSocket::errorOccurred, this, &PlayerManager::socketError);
    connect(socket, &QTcpSocket::disconnected, this, &PlayerManager::retryLink);
    retryTimer = new QTimer(this);
    retryTimer->setSingleShot(true);
    connect(retryTimer, &QTimer::timeout, this, &PlayerManager::connectToPlayer);
    openValueTimer = new QTimer(this);
    openValueTimer->setSingleShot(true);
    connect(openValueTimer, &QTimer::timeout, this, &PlayerManager::dropUnfinishedMessage);
    connect(this, &PlayerManager::newDataFromPlayer, this, &PlayerManager::recognizeAnswer);
}

PlayerManager *PlayerManager::getInstance(QObject *parent)
{
    if (!inst)
        inst = new PlayerManager(parent);
    return inst;
}

// ---- link -------------------------------------------------------------------

void PlayerManager::connectToPlayer()
{
    // A second request while an attempt is under way would only draw a socket warning.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        return;
    qDebug() << "connect to player";
    socket->connectToHost(QHostAddress(QHostAddress::LocalHost), mediaCentrePort, QIODevice::ReadWrite);
}

void PlayerManager::connectedToPlayer()
{
    // The option only reaches a socket that exists, so it is set again on every connection.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    splitter.reset();
    // A media centre that came back (restarted) plays nothing: an entry that was on its way or on
    // screen starts again; one that had ended, was left or was given up stays so.
    if (entry == Entry::Opening || entry == Entry::Starting || entry == Entry::Shown || entry == Entry::Cancelled) {
        restartAtLink = entry != Entry::Cancelled;
        setEntry(Entry::Idle);
    }
    QTimer::singleShot(startSequenceMs, Qt::PreciseTimer, this, &PlayerManager::runStartSequence);
}

void PlayerManager::runStartSequence()
{
    initPlayer();
    // Above all a stand-by loop, with no desk to restart it, would otherwise stay silent for good.
    if (std::exchange(restartAtLink, false) && playState == Playing)
        startEntry(emptySkipMs);
    if (usbStickManager->resetFileStuck())
        showMessage(tr("USB stick"),
                    tr("Cannot remove the reset file from the USB stick (write-protected?). Nothing was reset."),
                    noticeMs);
    QTimer::singleShot(versionNoticeMs, this, &PlayerManager::showVersion);
    checkForUpdates();
    emit initialized();
}

void PlayerManager::showVersion()
{
    sendToPlayer(MediaCentreRequests::notification(tr("Version"), QCoreApplication::applicationVersion(), 6000));
}

void PlayerManager::checkForUpdates()
{
    updater()->checkForUpdates();
}

void PlayerManager::socketError(QAbstractSocket::SocketError _error)
{
    // A write that outlasts its wait leaves the link up; every error that ends the link, of whatever
    // kind, leads to the next attempt, so the player never stops listening for good.
    if (socket->state() == QAbstractSocket::ConnectedState && _error != QAbstractSocket::RemoteHostClosedError
        && _error != QAbstractSocket::NetworkError) {
        qDebug() << "Socket error:" << _error;
        return;
    }
    qDebug() << "Socket error:" << _error << "- next attempt in" << linkRetryMs << "ms";
    retryLink();
}

void PlayerManager::retryLink()
{
    // abort() rather than a graceful close: a socket left closing would refuse the retry.
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
    retryTimer->start(linkRetryMs);
}

bool PlayerManager::send(const QString &cmd)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return false;
    sending = true;
    socket->write(cmd.toUtf8());
    // Hands the bytes to the kernel now; the wait below only has work when the socket was full.
    socket->flush();
    socket->waitForBytesWritten(writeWaitMs);
    sending = false;
    return true;
}

void PlayerManager::sendToPlayer(QString cmd)
{
    if (!send(cmd))
        send(cmd);
}

void PlayerManager::readFromSocket()
{
    // Waiting for a write can deliver readyRead inside send(); handling a message there
    // would run a track change in the middle of another, so it waits for the event loop.
    if (sending) {
        if (!readDeferred) {
            readDeferred = true;
            QMetaObject::invokeMethod(this, &PlayerManager::readFromSocket, Qt::QueuedConnection);
        }
        return;
    }
    readDeferred = false;
    const int droppedBefore = splitter.droppedValues();
    const QList<QByteArray> messages = splitter.feed(socket->readAll());
    if (splitter.droppedValues() != droppedBefore)
        qDebug() << "oversized message from player dropped";
    for (const QByteArray &message : messages)
        emit newDataFromPlayer(message);
    watchOpenValue();
}

// Each message that begins gets its own bound, counted from the read that began it.
void PlayerManager::watchOpenValue()
{
    if (!splitter.inValue()) {
        openValueTimer->stop();
        return;
    }
    if (openValueTimer->isActive() && timedValue == splitter.valuesBegun())
        return;
    timedValue = splitter.valuesBegun();
    openValueTimer->start(openValueBoundMs);
}

void PlayerManager::dropUnfinishedMessage()
{
    // Bytes that have arrived but are not read yet may still finish it.
    readFromSocket();
    if (!splitter.inValue() || splitter.valuesBegun() != timedValue)
        return;
    splitter.dropOpenValue();
    openValueTimer->stop();
    qDebug() << "unfinished message from player dropped after" << openValueBoundMs << "ms";
}

void PlayerManager::recognizeAnswer(QByteArray data)
{
    const QJsonObject message = QJsonDocument::fromJson(data).object();
    const QJsonValue method = message.value(QStringLiteral("method"));
    if (!method.isString()) {
        if ((entry == Entry::Opening || entry == Entry::Cancelled) && MediaCentreRequests::isOpenRefusal(message))
            onOpenRefused();
        else if (entry == Entry::Starting && MediaCentreRequests::listsNoActivePlayer(message, openSerial))
            passOver(true);
        return;
    }
    const QJsonValue eventData = message.value(QStringLiteral("params"))[QStringLiteral("data")];
    if (method.toString() == QLatin1String("Player.OnStop")) {
        // A picture ends by the image timer alone: the media centre also reports the end of an
        // earlier slideshow when it opens a new picture. And an end that comes before the opened
        // entry has started belongs to the entry it replaced.
        const bool ended = eventData[QStringLiteral("end")].toBool(false);
        const bool pictureStopped = eventData[QStringLiteral("player")][QStringLiteral("playerid")].toInt(-1) == picturePlayerId;
        if (ended && !pictureStopped && entry == Entry::Shown && playState != Stopped && playerId != picturePlayerId)
            onTrackEnd();
    } else if (method.toString() == QLatin1String("Player.OnPlay")) {
        playerId = eventData[QStringLiteral("player")][QStringLiteral("playerid")].toInt(0);
        onPlayReported();
    } else if (method.toString() == QLatin1String("Player.OnAVStart")) {
        onAvStarted();
    }
}

void PlayerManager::onPlayReported()
{
    if (entry == Entry::Cancelled) {
        setEntry(Entry::Idle);
        sendToPlayer(MediaCentreRequests::stop(playerId));
        return;
    }
    if (playerId == picturePlayerId) {
        if (entry == Entry::Opening || entry == Entry::Starting)
            onAvStarted();
        if (playMode != LoopSingle)
            imageTimer->start(imageInterval);
    } else if (entry == Entry::Opening) {
        entry = Entry::Starting; // the looks at its start go on as they were timed
    }
}

// Sound or picture has started: the entry plays, and the list plays again.
void PlayerManager::onAvStarted()
{
    if (entry != Entry::Opening && entry != Entry::Starting)
        return;
    setEntry(Entry::Shown);
    unplayable.clear();
}

// The media centre refuses to open a file that vanished from the stick after the playlist was read:
// no item plays and no end will come.
void PlayerManager::onOpenRefused()
{
    qDebug() << "media centre refused to open" << trackList.value(currentTrack);
    passOver(false);
}

void PlayerManager::onEntryTimer()
{
    switch (entry) {
    case Entry::Opening:
    case Entry::Starting:
        checkStillStarting();
        break;
    case Entry::Leaving:
        onTrackEnd();
        break;
    case Entry::GivenUp:
        retryAfterGivingUp();
        break;
    default:
        break;
    }
}

// Runs every startCheckMs of playing time while an entry has not started. Nothing is judged while
// the link is down: a media centre that restarts takes its time, and the entry starts again then.
void PlayerManager::checkStillStarting()
{
    if (socket->state() != QAbstractSocket::ConnectedState) {
        openedAt.start();
    } else if (openedAt.elapsed() >= startBoundMs) {
        qDebug() << "no sound or picture from" << trackList.value(currentTrack);
        passOver(true);
        return;
    } else if (entry == Entry::Starting) {
        sendToPlayer(MediaCentreRequests::activePlayers(openSerial));
    }
    entryTimer->start(startCheckMs);
}

// An entry that cannot play is passed over like a placeholder, in every mode; once a whole round
// could not play, the box stops trying until something changes.
void PlayerManager::passOver(bool stopPlayer)
{
    // What the media centre still holds of it leaves the screen.
    if (stopPlayer)
        sendToPlayer(MediaCentreRequests::stop(playerId));
    unplayable.insert(currentTrack);
    if (playState != Playing) {
        setEntry(Entry::Idle);
    } else if (wholeRoundUnplayable()) {
        qDebug() << "nothing on the playlist can be played; waiting for a command";
        stickWasAway = false;
        setEntry(Entry::GivenUp, stickLookMs);
        showInfo(tr("Play"), tr("Nothing on the playlist can be played"), noticeMs);
    } else {
        endEntryAfter(emptySkipMs);
    }
}

// Only the modes that come back to the same entries by themselves could go round for ever.
bool PlayerManager::wholeRoundUnplayable() const
{
    switch (playMode) {
    case LoopSingle:
        return unplayable.contains(currentTrack);
    case LoopPlaylist:
    case Shuffle:
        for (int i = 0; i < trackList.size(); ++i)
            if (trackList.at(i) != emptyEntry && !unplayable.contains(i))
                return false;
        return true;
    default:
        return false;
    }
}

// A stick pulled and put back (all files had vanished) plays again without waiting for the desk.
void PlayerManager::retryAfterGivingUp()
{
    if (!stickMounted()) {
        stickWasAway = true;
    } else if (stickWasAway && playState == Playing) {
        qDebug() << "the stick is back; playing again";
        unplayable.clear();
        startEntry(emptySkipMs);
        return;
    }
    entryTimer->start(stickLookMs);
}

bool PlayerManager::stickMounted() const
{
    return usbStorage.isValid() && QStorageInfo(stickRoot()).rootPath() == stickRoot();
}

// ---- notices and monitor ----------------------------------------------------

void PlayerManager::showMessage(QString title, QString info, int msduration)
{
    sendToPlayer(MediaCentreRequests::notification(title, info, msduration));
}

void PlayerManager::showInfo(QString title, QString info, int msduration)
{
    if (showOsd)
        showMessage(title, info, msduration);
}

void PlayerManager::switchMonitor(bool on)
{
    const QString command = on ? QStringLiteral("vcgencmd display_power 1")
                               : QStringLiteral("vcgencmd display_power 0");
    QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command});
}

void PlayerManager::turnOnMonitor()
{
    switchMonitor(true);
}

void PlayerManager::turnOffMonitor()
{
    switchMonitor(false);
}

// ---- configuration ----------------------------------------------------------

QString PlayerManager::stickRoot() const
{
    return usbStorage.isValid() ? usbStorage.rootPath() : QString();
}

void PlayerManager::readPlaylist()
{
    if (!usbStorage.isValid() || !StickConfig::isReadable(stickRoot() + configFileName))
        return;
    QSettings config(stickRoot() + configFileName, QSettings::IniFormat);
    if (config.status() != QSettings::NoError)
        return;
    const int size = qMin(config.beginReadArray(QStringLiteral("playlist")), maxPlaylistSize);
    for (int i = 0; i < size; ++i) {
        config.setArrayIndex(i);
        const QString track = config.value(QStringLiteral("track"), emptyEntry).toString();
        trackList << (QFileInfo(stickRoot() + QLatin1Char('/') + track).isFile() ? track : emptyEntry);
    }
    config.endArray();
}

void PlayerManager::initPlayer()
{
    const QString path = stickRoot() + configFileName;
    if (!QFileInfo::exists(path)) {
        showInfo(tr("Config error"), tr("Config file doesn'n exist!"), 1500);
        return;
    }
    const bool readable = StickConfig::isReadable(path);
    QSettings config(readable ? path : QString(), QSettings::IniFormat);
    if (!readable || config.status() != QSettings::NoError)
        showInfo(tr("Config"), tr("Error while loading config!"), 3000);

    showOsd = config.value(QStringLiteral("showosd"), false).toBool();
    noDmxAction = config.value(QStringLiteral("nodmxaction"), 0).toInt();
    noDmxMode = config.value(QStringLiteral("nodmxmode"), 0).toInt();
    noDmxVolume = config.value(QStringLiteral("nodmxvolume"), 100).toInt();
    noDmxAction = qMax(0, noDmxAction);

    noDmxTrack = config.value(QStringLiteral("nodmxtrack"), 0).toInt() - 1;
    showInfo(QStringLiteral("No dmx track"), QString::number(noDmxTrack), 1000);
    noDmxTrack = qMax(0, noDmxTrack);

    // Bounded so that a huge number of seconds cannot wrap round to another interval.
    const qint64 intervalMs = config.value(QStringLiteral("imageinterval"), 10).toLongLong() * 1000;
    imageInterval = int(qBound<qint64>(std::numeric_limits<int>::min(), intervalMs, std::numeric_limits<int>::max()));

    if (config.value(QStringLiteral("language"), QStringLiteral("English")).toString() == QLatin1String("Polish")) {
        translator.load(QStringLiteral("polish.qm"), QStringLiteral(":/translations"));
        // Installing the same translator twice would stack it in the application.
        if (!translatorInstalled)
            translatorInstalled = QCoreApplication::installTranslator(&translator);
    }
}

// ---- playback ---------------------------------------------------------------

bool PlayerManager::indexValid() const
{
    return currentTrack >= 0 && currentTrack < trackList.size();
}

QString PlayerManager::entryPath() const
{
    return stickRoot() + QLatin1Char('/') + trackList.at(currentTrack);
}

// Every change of the entry's state passes here, so a timer armed for an earlier state never acts
// on a later one.
void PlayerManager::setEntry(Entry state, int timerMs)
{
    entry = state;
    entryTimer->stop();
    if (timerMs >= 0)
        entryTimer->start(timerMs);
}

void PlayerManager::startEntry(int skipDelayMs)
{
    if (!indexValid())
        return;
    const QString item = trackList.at(currentTrack);
    if (item == emptyEntry && playMode >= Playlist && playMode <= Shuffle) {
        endEntryAfter(skipDelayMs);
        return;
    }
    setEntry(Entry::Idle);
    sendToPlayer(MediaCentreRequests::stop(playerId));
    if (item != emptyEntry)
        openEntry();
}

void PlayerManager::openEntry()
{
    beginOpening();
    sendToPlayer(MediaCentreRequests::open(entryPath()));
    showInfo(tr("Play"), trackList.at(currentTrack), 2000);
}

void PlayerManager::play()
{
    // A play command is a new try, also for entries that could not play a moment ago.
    unplayable.clear();
    playCurrent();
}

void PlayerManager::playCurrent()
{
    if (playState == Paused && playerId != picturePlayerId && previousState == Playing) {
        previousState = Paused;
        playState = Playing;
        sendToPlayer(MediaCentreRequests::resume(playerId));
        // The time to start counts again from here.
        if (entry == Entry::Opening || entry == Entry::Starting) {
            openedAt.start();
            entryTimer->start(startCheckMs);
        }
    } else if (playState == Paused && playerId == picturePlayerId) {
        previousState = Paused;
        playState = Playing;
        startEntry(pausedPictureSkipMs);
    } else {
        previousState = playState;
        playState = Playing;
        startEntry(emptySkipMs);
    }
}

void PlayerManager::playOnly()
{
    if (!indexValid())
        return;
    qDebug() << "Play only";
    sendToPlayer(MediaCentreRequests::stop(playerId));
    showInfo(tr("Play"), trackList.at(currentTrack), 2000);
    beginOpening();
    sendToPlayer(MediaCentreRequests::open(entryPath()));
}

// A new Open: its answers and its time to start are its own.
void PlayerManager::beginOpening()
{
    ++openSerial;
    openedAt.start();
    setEntry(Entry::Opening, startCheckMs);
}

void PlayerManager::pause()
{
    previousState = playState;
    if (playState == Stopped) {
        playState = Paused;
        return;
    }
    if (playState == Playing) {
        playState = Paused;
        if (playerId != picturePlayerId)
            sendToPlayer(MediaCentreRequests::pause(playerId));
        else
            imageTimer->stop();
        // A paused entry is not judged on its start.
        if (entry == Entry::Opening || entry == Entry::Starting)
            entryTimer->stop();
    }
    showInfo(tr("Pause"), QString(), 1500);
}

void PlayerManager::stop()
{
    previousState = playState;
    playState = Stopped;
    imageTimer->stop();
    stopPlayer();
    currentTrack = selectedTrack;
    showInfo(tr("Stop"), QString(), 1500);
}

// An item whose open is still under way is not the player last reported: it gets its own stop once
// it reports playing, or it would play on although the box stopped.
void PlayerManager::stopPlayer()
{
    sendToPlayer(MediaCentreRequests::stop(playerId));
    setEntry(entry == Entry::Opening ? Entry::Cancelled : Entry::Idle);
}

void PlayerManager::setTrack(int track)
{
    if (!dmxPresent)
        return;
    selectedTrack = track;
    currentTrack = track;
    imageTimer->stop();
    const bool inList = track >= 0 && track < trackList.size();
    if (inList && playState != Stopped && !trackTimer->isActive())
        trackTimer->start(coalesceMs);
}

void PlayerManager::playNewTrack()
{
    if (playState == Playing)
        play();
    if (playState == Paused)
        stop();
}

void PlayerManager::setMode(int mode)
{
    if (!dmxPresent)
        return;
    playMode = mode;
    currentTrack = selectedTrack;
    // A box that gave up tries again in the new mode; otherwise the mode waits for the next start.
    if (entry == Entry::GivenUp && playState == Playing) {
        unplayable.clear();
        startEntry(emptySkipMs);
    }
}

void PlayerManager::setVolume(int vol)
{
    if (!dmxPresent)
        return;
    volume = 100 * vol / 63;
    if (!volumeTimer->isActive())
        volumeTimer->start(coalesceMs);
}

void PlayerManager::updateVolume()
{
    sendToPlayer(MediaCentreRequests::volume(volume));
    showInfo(tr("Volume"), QString::number(volume), 1500);
}

void PlayerManager::breakImage()
{
    // Stopped here, not only at the track end: a short interval would otherwise fire
    // again before the track end runs and skip an entry or flood the media centre.
    imageTimer->stop();
    sendToPlayer(MediaCentreRequests::stop(picturePlayerId));
    endEntryAfter(breakImageToEndMs);
}

// The end of the entry on screen, a little later: an entry started, stopped or left behind by the
// signal's return in the meantime is not ended by it.
void PlayerManager::endEntryAfter(int ms)
{
    setEntry(Entry::Leaving, ms);
}

void PlayerManager::onTrackEnd()
{
    setEntry(Entry::Idle);
    imageTimer->stop();
    if (playState == Stopped)
        return;
    advanceAfterTrackEnd();
}

void PlayerManager::advanceAfterTrackEnd()
{
    const int size = trackList.size();
    switch (playMode) {
    case Single:
        break;
    case LoopSingle:
        playCurrent();
        break;
    case Playlist:
        if (++currentTrack < size)
            playCurrent();
        break;
    case LoopPlaylist:
        do {
            ++currentTrack;
        } while (currentTrack < size && trackList.at(currentTrack) == emptyEntry);
        if (currentTrack >= size)
            currentTrack = 0;
        playCurrent();
        break;
    case Shuffle:
        // Every entry can come, from the standard generator unseeded: every box draws the same
        // order after every start, which a show of several boxes may count on.
        currentTrack = size > 0 ? std::rand() % size : 0;
        playCurrent();
        break;
    default:
        break;
    }
}

// ---- DMX signal -------------------------------------------------------------

void PlayerManager::isDmx(bool dmxon)
{
    if (dmxon == dmxPresent)
        return;
    dmxPresent = dmxon;
    if (dmxon)
        onDmxReturned();
    else
        onDmxLost();
}

void PlayerManager::onDmxReturned()
{
    showInfo(QStringLiteral("DMX"), tr("DMX resume"), 1000);
    if (noDmxAction == MonitorOff) {
        QTimer::singleShot(monitorSwitchMs, this, &PlayerManager::turnOnMonitor);
        return;
    }
    if (playState != Stopped)
        stopPlayer();
    // The stand-by entry ends here: neither its picture interval nor a pending skip moves on from it.
    imageTimer->stop();
    if (entry != Entry::Cancelled)
        setEntry(Entry::Idle);
    playState = previousState;
    currentTrack = selectedTrack;
}

void PlayerManager::onDmxLost()
{
    showInfo(QStringLiteral("DMX"), tr("No DMX signal"), 1500);
    switch (noDmxAction) {
    case StopPlayback:
        previousState = playState;
        if (playState != Stopped) {
            playState = Stopped;
            stopPlayer();
        }
        break;
    case MonitorOff:
        QTimer::singleShot(monitorSwitchMs, this, &PlayerManager::turnOffMonitor);
        break;
    case PlayStandbyTrack:
        if (playState != Stopped)
            stopPlayer();
        previousState = playState;
        currentTrack = noDmxTrack;
        playMode = noDmxMode;
        playState = Playing;
        QTimer::singleShot(standbyPlayMs, this, &PlayerManager::play);
        break;
    default:
        break;
    }
    sendToPlayer(MediaCentreRequests::volume(noDmxVolume));
}
