#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QThread>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "app/language.h"
#include "app/messagehandler.h"
#include "link/connectionmanager.h"
#include "player/playermanager.h"
#include "system/network.h"
#include "system/systemmanager.h"

namespace {

constexpr const char *applicationVersion = "4.0.0";
constexpr const char *logFilePath = "/tmp/.__zr605_log__.log";

void removeStaleLogFile()
{
    qDebug() << "Create log file";
    if (QFile::exists(QString::fromLatin1(logFilePath)))
        QFile::remove(QString::fromLatin1(logFilePath));
}

// A process killed while the settings class writes leaves its lock file behind, at worst still
// empty; the first settings write then waits 30 s for it to age. Only this process writes the file.
void removeStaleSettingsLock()
{
    QFile::remove(QString::fromLatin1(SystemManager::settingsFilePath) + QLatin1String(".lock"));
}

// The first start after imaging forces a file-system check at the next boot.
void requestFileSystemCheck(SystemManager *systemManager)
{
    if (QFile::exists(QString::fromLatin1(SystemManager::forcedCheckMarker)))
        return;
    systemManager->changeReadWriteSystem(QString::fromLatin1(SystemManager::rootDevice), false);
    systemManager->addFile(QString::fromLatin1(SystemManager::forcedCheckMarker));
    // Start-up carries on while the machine goes down.
    systemManager->rebootSystem();
}

// A thread of this daemon runs well under 0.1 ms per command. With the shortest time slice a woken
// thread runs before the slice of whatever else is busy (the media centre rendering) has run out,
// and the board link, after giving way to the player's thread, is next again. Nice (the weight)
// stays as it is; kernels before 6.12 ignore the slice. Threads started later inherit it.
void requestShortTimeSlices()
{
    struct {
        quint32 size, policy;
        quint64 flags;
        qint32 nice;
        quint32 priority;
        quint64 runtimeNs, deadlineNs, periodNs;
    } attributes{};
    attributes.size = sizeof attributes;
    attributes.policy = SCHED_OTHER;
    attributes.nice = getpriority(PRIO_PROCESS, 0);
    attributes.runtimeNs = 100 * 1000; // the least the kernel accepts
    syscall(SYS_sched_setattr, 0, &attributes, 0);
}

} // namespace

int main(int argc, char *argv[])
{
    removeStaleLogFile();
    removeStaleSettingsLock();

    qDebug() << "Start application";
    qDebug() << "Install message handler";
    qInstallMessageHandler(myMessageOutput);
    qDebug() << "Message handler installed";

    // Qt's own poll loop rather than glib's, for both threads (the worker's is made when it starts):
    // a board command crosses two loops, and glib's wakes itself up again for every socket
    // notifier a write turns on and off. Qt reads this before it makes either loop.
    qputenv("QT_NO_GLIB", "1");
    requestShortTimeSlices();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(applicationVersion));

    setLanguage(application);
    qDebug() << "Language set";

    SystemManager *systemManager = SystemManager::getInstance(&application);
    systemManager->initPlayerSystem();
    qDebug() << "Init player configuration";

    requestFileSystemCheck(systemManager);

    Network *network = systemManager->network();
    network->adoptInterfaceFile();
    if (network->getDhcp())
        network->updateSettings();
    qDebug() << "Set network settings";

    // The hub's construction creates the player in this thread; obtaining it again returns it.
    ConnectionManager *hub = ConnectionManager::getInstance();
    PlayerManager *player = PlayerManager::getInstance();

    // The player, its socket and its timers get an event loop of their own; everything the main
    // thread sends it arrives as queued calls in arrival order.
    QThread *playerThread = new QThread();
    player->moveToThread(playerThread);
    QObject::connect(playerThread, &QThread::started, player, &PlayerManager::connectToPlayer);
    QObject::connect(hub, &ConnectionManager::connError, player, &PlayerManager::showMessage,
                     Qt::QueuedConnection);
    playerThread->start(QThread::InheritPriority);

    qDebug() << "Application started!";
    return application.exec();
}
