#include "tools/ctl/stickcommands.h"

#include "wire/filecrypt.h"
#include "tools/ctl/ctlcommand.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

const QString resetFileName = QStringLiteral(".__zr605__reset");
const QString programName = QStringLiteral("quorvant");
const QString controlName = QStringLiteral("quorvant.md5");
constexpr int cipherBlock = 16;

// A file on the stick is whole or absent. A full stick shows only when the buffer is flushed;
// commit alone would not notice.
bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush() && file.commit())
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
}

// Copies the program in chunks while hashing it, so a large build is never held in memory twice.
bool copyAndHash(const QString &from, const QString &to, QByteArray *digest, QString *error)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(from, source.errorString());
        return false;
    }
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(to, target.errorString());
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(1 << 20);
        if (chunk.isEmpty() || target.write(chunk) != chunk.size()) {
            *error = QStringLiteral("copy of %1 failed").arg(from);
            return false;
        }
        hash.addData(chunk);
    }
    // A full stick shows only when the last buffer is flushed; commit alone would not notice.
    if (!target.flush() || !target.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(to, target.errorString());
        target.cancelWriting();
        return false;
    }
    QFile::setPermissions(to, QFile::permissions(to) | QFileDevice::ExeOwner | QFileDevice::ExeUser);
    *digest = hash.result().toHex();
    return true;
}

// The updater takes the first two "quorvant*" files it meets, so a stray third one can spoil the
// pair it picks.
QStringList strayUpdateFiles(const QString &directory)
{
    QStringList stray;
    const QStringList names = QDir(directory).entryList({programName + QLatin1Char('*')}, QDir::Files | QDir::Hidden,
                                                        QDir::Name | QDir::IgnoreCase);
    for (const QString &name : names)
        if (name != programName && name != controlName)
            stray.append(name);
    return stray;
}

} // namespace

int StickCommands::resetFile(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("reset-file"),
                       QStringLiteral("Writes the encrypted reset file that a box applies from its USB stick at "
                                      "start-up. Put it in the stick root as %1.").arg(resetFileName),
                       0);
    command.addFlag(QStringLiteral("network"), QStringLiteral("Put the network back to DHCP."));
    command.addFlag(QStringLiteral("password"), QStringLiteral("Restore the factory password (the serial number)."));
    command.addValueOption(QStringLiteral("o"), QStringLiteral("file"),
                           QStringLiteral("Output file, or a directory to write %1 into.").arg(resetFileName));
    if (!command.parse(arguments))
        return command.exitCode();
    const bool network = command.isSet(QStringLiteral("network"));
    const bool password = command.isSet(QStringLiteral("password"));
    if (!network && !password)
        return command.usageError(QStringLiteral("give --network, --password or both; a file without either is ignored by the box"));
    if (!command.isSet(QStringLiteral("o")))
        return command.usageError(QStringLiteral("missing -o FILE"));

    QString path = command.value(QStringLiteral("o"));
    if (QFileInfo(path).isDir())
        path = QDir(path).filePath(resetFileName);

    QJsonObject flags;
    if (network)
        flags.insert(QStringLiteral("network"), true);
    if (password)
        flags.insert(QStringLiteral("password"), true);
    QByteArray plain = QJsonDocument(flags).toJson(QJsonDocument::Compact);
    // The box drops zero bytes before parsing but fails on any other fill, so fill the last block
    // with zeros ourselves; the cipher then has nothing left to pad.
    plain.append(QByteArray((cipherBlock - plain.size() % cipherBlock) % cipherBlock, '\0'));
    const QByteArray encrypted = FileCrypt().encrypt(plain);

    QString error;
    if (encrypted.size() != plain.size() || !writeFile(path, encrypted, &error))
        return command.output().fail(CtlOutput::Failure, error.isEmpty() ? QStringLiteral("encryption failed") : error);

    const QJsonObject result{{QStringLiteral("file"), path},
                             {QStringLiteral("network"), network},
                             {QStringLiteral("password"), password},
                             {QStringLiteral("size"), encrypted.size()}};
    command.output().print(result, QStringLiteral("Wrote %1 (%2 bytes): network reset %3, password reset %4%5")
                                       .arg(path).arg(encrypted.size())
                                       .arg(network ? QStringLiteral("yes") : QStringLiteral("no"),
                                            password ? QStringLiteral("yes") : QStringLiteral("no"),
                                            network && password ? QStringLiteral(", device name reset yes") : QString()));
    return CtlOutput::Ok;
}

int StickCommands::updatePair(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("update-pair"),
                       QStringLiteral("Writes the software update for a USB stick: the program as %1 and its MD5 "
                                      "control file %2.").arg(programName, controlName),
                       0);
    command.addPositional(QStringLiteral("PROGRAM"), QStringLiteral("The new daemon program."));
    command.addValueOption(QStringLiteral("o"), QStringLiteral("dir"), QStringLiteral("Directory to write the pair into (the stick root)."));
    if (!command.parse(arguments))
        return command.exitCode();
    if (!command.isSet(QStringLiteral("o")))
        return command.usageError(QStringLiteral("missing -o DIR"));

    const QString program = command.positional(0);
    const QString directory = command.value(QStringLiteral("o"));
    if (QFileInfo(program).size() == 0)
        return command.output().fail(CtlOutput::Failure,
                                     QStringLiteral("%1 is missing or empty; the box refuses an empty program").arg(program));
    if (!QDir().mkpath(directory))
        return command.output().fail(CtlOutput::Failure, QStringLiteral("cannot create directory %1").arg(directory));

    const QString programPath = QDir(directory).filePath(programName);
    const QString controlPath = QDir(directory).filePath(controlName);
    QByteArray digest;
    QString error;
    // Program first: a control file never describes a program that is not fully written.
    if (!copyAndHash(program, programPath, &digest, &error)
        || !writeFile(controlPath, digest + "  " + programName.toUtf8() + '\n', &error))
        return command.output().fail(CtlOutput::Failure, error);

    const QStringList stray = strayUpdateFiles(directory);
    if (!stray.isEmpty())
        command.output().note(QStringLiteral("warning: %1 also holds %2; the box may pick the wrong pair")
                                  .arg(directory, stray.join(QStringLiteral(", "))));

    const QJsonObject result{{QStringLiteral("program"), programPath},
                             {QStringLiteral("control"), controlPath},
                             {QStringLiteral("md5"), QString::fromLatin1(digest)},
                             {QStringLiteral("stray"), QJsonArray::fromStringList(stray)}};
    command.output().print(result, CtlOutput::fields({{QStringLiteral("Program"), programPath},
                                                      {QStringLiteral("Control"), controlPath},
                                                      {QStringLiteral("MD5"), QString::fromLatin1(digest)}}));
    return CtlOutput::Ok;
}
