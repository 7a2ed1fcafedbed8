#include "maintenance/updater.h"

#include "maintenance/programcheck.h"
#include "system/atomicfile.h"
#include "system/networkconfigurator.h"
#include "system/systemmanager.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int digestLength = 32;
constexpr int updateDelayMs = 1500;
constexpr int rebootDelayMs = 2000;
const char *const temporaryProgram = "/cfg/.quorvant.new";

struct BootSetting
{
    const char *line;
    const char *comment;
};

constexpr BootSetting bootSettings[3] = {
    { "audio_pwm_mode=2", "# Audio config" },
    { "hdmi_group=1", "# HDMI config" },
    { "hdmi_mode=16", "# HDMI config" },
};

int runShell(const QString &command)
{
    return QProcess::execute(QStringLiteral("/bin/sh"), { QStringLiteral("-c"), command });
}

// Streams the file, so a large program never sits in memory whole.
QByteArray md5Hex(QIODevice &device)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&device))
        return QByteArray();
    return hash.result().toHex();
}

QByteArray md5Hex(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return md5Hex(file);
}

// Only the first 32 bytes count; the rest of the control file (blanks, name) is never read.
QByteArray readControlDigest(QIODevice &device)
{
    return device.read(digestLength);
}

QByteArray readControlDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return readControlDigest(file);
}

bool copyFile(const QString &sourcePath, const QString &targetPath)
{
    QFile source(sourcePath);
    QFile target(targetPath);
    if (!source.open(QIODevice::ReadOnly) || !target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(64 * 1024);
        if (chunk.isEmpty() || target.write(chunk) != chunk.size())
            return false;
    }
    // The copy must be on the medium before it replaces the running program.
    return target.flush() && ::fsync(target.handle()) == 0;
}

} // namespace

Updater::Updater(QObject *parent)
    : QObject(parent)
{
}

void Updater::checkForUpdates()
{
    if (QFile::exists(QString::fromLatin1(networkResetMarker))) {
        if (!takeOffStick(QString::fromLatin1(networkResetMarker), QString()))
            return;
        // The interface file first: should the power go before the settings follow, the next start
        // makes them agree with it.
        NetworkConfigurator::writeInterfaceFile(
            NetworkConfigurator::interfaceFileContent(QStringLiteral("dhcp"), false, QString(), QString(), QString()));
        AtomicFile::storeSettings(QString::fromLatin1(SystemManager::settingsFilePath),
                                  { { QStringLiteral("NET_MODE"), QStringLiteral("dhcp") } });
        return;
    }

    m_updateFiles.clear();
    QDirIterator walk(QString::fromLatin1(searchRoot), { QString::fromLatin1(updateFilePattern) },
                      QDir::Files, QDirIterator::Subdirectories);
    while (walk.hasNext())
        m_updateFiles.append(walk.next());
    qDebug() << "Update files:" << m_updateFiles;

    if (m_updateFiles.size() >= 2)
        QTimer::singleShot(updateDelayMs, Qt::PreciseTimer, this, &Updater::runUpdate);
    else
        emit updateInfo(tr("Update"), tr("No update files found"), noticeDuration);
}

Updater::UpdatePair Updater::pickUpdatePair(const QStringList &files)
{
    if (files.size() < 2)
        return UpdatePair();
    const auto isControl = [](const QString &path) { return QFileInfo(path).suffix() == QLatin1String("md5"); };
    if (isControl(files.at(0)))
        return { files.at(0), files.at(1) };
    if (isControl(files.at(1)))
        return { files.at(1), files.at(0) };
    return UpdatePair();
}

void Updater::runUpdate()
{
    emit updateInfo(tr("Update"), tr("Update files found. Running update..."), noticeDuration);
    if (m_updateFiles.size() < 2)
        return;

    const UpdatePair pair = pickUpdatePair(m_updateFiles);
    if (!pair.isValid()) {
        emit updateInfo(tr("No update control file"), tr("Aborting update and remove update files"), noticeDuration);
        removeUpdateFiles(m_updateFiles.at(0), m_updateFiles.at(1));
        return;
    }

    if (!compareFiles(pair.controlFile, pair.programFile)) {
        removeUpdateFiles(pair.controlFile, pair.programFile);
        emit updateInfo(tr("Checksums"), tr("Checksums didn't match. Abort."), noticeDuration);
        return;
    }

    // A program that cannot run here would leave the box restarting it for ever after the reboot.
    if (!ProgramCheck::runsHere(pair.programFile)) {
        removeUpdateFiles(pair.controlFile, pair.programFile);
        emit updateInfo(tr("Update error"), tr("The new program cannot run on this box. Keeping the current one."),
                        noticeDuration);
        return;
    }

    QFile::setPermissions(pair.programFile, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeUser);
    const QByteArray digest = readControlDigest(pair.controlFile);
    // A failed copy leaves the installed program and the stick untouched, so rebooting would only
    // retry and fail again at every start; the files stay for another attempt.
    const QString temporary = QString::fromLatin1(temporaryProgram);
    if (!prepareProgram(pair.programFile, digest) && !prepareProgram(pair.programFile, digest)) {
        emit updateInfo(tr("Update error"), tr("Cannot install the new program. Keeping the current one."),
                        noticeDuration);
        return;
    }
    if (!startTrial()) {
        QFile::remove(temporary);
        emit updateInfo(tr("Update error"), tr("Cannot install the new program. Keeping the current one."),
                        noticeDuration);
        return;
    }
    if (!takeOffStick(pair.controlFile, pair.programFile)) {
        QFile::remove(temporary);
        endTrial();
        return;
    }
    if (std::rename(temporaryProgram, installedProgram) != 0) {
        QFile::remove(temporary);
        endTrial();
        emit updateInfo(tr("Update error"), tr("Cannot install the new program. Keeping the current one."),
                        noticeDuration);
        return;
    }

    // On the disk before the success notice: the stick no longer holds the update. Should the sync
    // fail, the reboot's own sync is the last chance.
    if (!AtomicFile::syncToDisk(QString::fromLatin1(installedProgram)))
        qDebug() << "Cannot put the new program on the disk";

    if (QFile::exists(QString::fromLatin1(bootConfigPath))) {
        runShell(QStringLiteral("mount -o remount,rw '/boot'"));
        if (!checkConfigFile())
            emit updateInfo(QStringLiteral("Error"), QStringLiteral("Configuration update error."), noticeDuration);
        runShell(QStringLiteral("mount -o remount,ro '/boot'"));
    }
    emit updateInfo(tr("Update success"), tr("Rebooting"), noticeDuration);
    QTimer::singleShot(rebootDelayMs, Qt::PreciseTimer, this, &Updater::reboot);
}

bool Updater::compareFiles(const QString &controlFile, const QString &programFile)
{
    QFile program(programFile);
    QFile control(controlFile);
    if (program.size() == 0 || control.size() == 0)
        return false;
    if (!program.open(QIODevice::ReadOnly) || !control.open(QIODevice::ReadOnly)) {
        emit updateInfo(tr("Update error"), tr("Can not open files!"), noticeDuration);
        return false;
    }

    if (md5Hex(program) == readControlDigest(control)) {
        emit updateInfo(tr("Data verified"), tr("Updating please wait"), noticeDuration);
        return true;
    }
    emit updateInfo(tr("Corrupted data"), tr("Corrupted update files. Removing"), noticeDuration);
    return false;
}

// Copies beside the installed program and checks the copy; renamed over the old one later, so
// there is never a moment without a working program in place.
bool Updater::prepareProgram(const QString &programFile, const QByteArray &digest) const
{
    const QString temporary = QString::fromLatin1(temporaryProgram);
    QFile::remove(temporary);
    const bool prepared = copyFile(programFile, temporary) && md5Hex(temporary) == digest
        && QFile::setPermissions(temporary, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                     | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    if (!prepared) {
        qDebug() << "Installing" << programFile << "failed";
        QFile::remove(temporary);
    }
    return prepared;
}

// A program can pass every check here and still not come up on this box (it exits at once, or
// hangs before it listens). The one in place stays as a second name of the same file, so keeping it
// costs no space and no copy; without the trial marker nothing would ever judge the new one.
bool Updater::startTrial() const
{
    const QString previous = QString::fromLatin1(previousProgram);
    QFile::remove(previous);
    if (::link(installedProgram, previousProgram) != 0)
        qDebug() << "Cannot keep the current program; a failed update falls back to the packaged one";
    return AtomicFile::write(QString::fromLatin1(trialMarker), QByteArrayLiteral("0\n"));
}

void Updater::endTrial() const
{
    QFile::remove(QString::fromLatin1(trialMarker));
    QFile::remove(QString::fromLatin1(previousProgram));
    AtomicFile::syncToDisk(QString::fromLatin1(trialMarker));
}

// Files that stay on the stick (write-protected, or mounted read-only after an error) would be
// used again at every start, rebooting each time; what they ask for is done only once they are
// gone. With an update pair, one file gone is enough: the other alone does nothing.
bool Updater::takeOffStick(const QString &first, const QString &second)
{
    removeUpdateFiles(first, second);
    if (!QFile::exists(first) || (!second.isEmpty() && !QFile::exists(second)))
        return true;
    qDebug() << "Cannot remove from the stick:" << first << second;
    emit updateWarning(tr("USB stick"),
                       tr("Cannot remove the file from the USB stick (write-protected?). It was not used."),
                       noticeDuration);
    return false;
}

void Updater::removeUpdateFiles(const QString &first, const QString &second) const
{
    QFile::remove(first);
    if (!second.isEmpty())
        QFile::remove(second);
}

bool Updater::checkConfigFile()
{
    QFile file(QString::fromLatin1(bootConfigPath));
    // Still read a file that cannot be written: when nothing is missing there is nothing to report.
    const bool writable = file.open(QIODevice::ReadWrite);
    if (!writable)
        file.open(QIODevice::ReadOnly);

    bool present[3] = { false, false, false };
    QTextStream stream(&file);
    QString line;
    while (stream.readLineInto(&line)) {
        for (int i = 0; i < 3; ++i) {
            if (line.startsWith(QLatin1String(bootSettings[i].line))) {
                present[i] = true;
                break;
            }
        }
    }
    if (stream.status() != QTextStream::Ok)
        return false;
    if (present[0] && present[1] && present[2])
        return true;

    qDebug() << "Dopisuje do pliku!";
    // A block that could not be written is reported, not passed off as done.
    const QByteArray block = bootConfigBlock(present);
    return writable && file.seek(file.size()) && file.write(block) == block.size() && file.flush();
}

QByteArray Updater::bootConfigBlock(const bool present[3])
{
    const QByteArray banner(80, '#');
    QByteArray block = "\n\n" + banner;
    for (int i = 0; i < 3; ++i) {
        if (present[i])
            continue;
        block += '\n';
        block += bootSettings[i].comment;
        block += '\n';
        block += bootSettings[i].line;
    }
    block += "\n\n" + banner;
    return block;
}

void Updater::reboot()
{
    runShell(QStringLiteral("sync"));
    runShell(QStringLiteral("reboot -f"));
}
