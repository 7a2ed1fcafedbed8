// quorvant-ctl: the installer's tool for finding and configuring boxes on the local network.

#include "tools/ctl/ctloutput.h"
#include "tools/ctl/stickcommands.h"
#include "tools/ctl/tcpcommands.h"
#include "tools/ctl/udpcommands.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

struct Command {
    const char *name;
    const char *summary;
    int (*run)(const QStringList &arguments);
};

const Command commands[] = {
    {"discover", "find boxes (discovery broadcast; --search adds network and stick details)", UdpCommands::discover},
    {"set-serial", "give a box its serial number", UdpCommands::setSerial},
    {"network", "show or write a box's network settings", TcpCommands::network},
    {"device", "store a box's DMX start channel and device name", TcpCommands::device},
    {"password", "change a box's login password", TcpCommands::password},
    {"files", "list (or remove) the playlist files on a box's stick", TcpCommands::files},
    {"reboot", "reboot a box", TcpCommands::reboot},
    {"control", "send transport control levels over UDP", UdpCommands::control},
    {"reset-file", "write an encrypted reset file for a stick", StickCommands::resetFile},
    {"update-pair", "write a software update pair for a stick", StickCommands::updatePair},
};

int usage(FILE *stream, int exitCode)
{
    QTextStream out(stream);
    out << "Usage: quorvant-ctl COMMAND [options]   (quorvant-ctl COMMAND --help for its options)\n\nCommands:\n";
    for (const Command &command : commands)
        out << "  " << QString::fromLatin1(command.name).leftJustified(12) << command.summary << '\n';
    out << "\nEvery command takes --json. Exit codes:\n";
    for (int code = CtlOutput::Ok; code <= CtlOutput::Refused; ++code)
        out << "  " << code << "  " << CtlOutput::exitCodeName(CtlOutput::ExitCode(code)) << '\n';
    return exitCode;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quorvant-ctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral("4.0.0"));
    const QStringList arguments = QCoreApplication::arguments();
    const QString name = arguments.value(1);
    if (name.isEmpty())
        return usage(stderr, CtlOutput::Usage);
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help"))
        return usage(stdout, CtlOutput::Ok);
    for (const Command &command : commands) {
        if (name == QLatin1String(command.name))
            return command.run(arguments.mid(1));
    }
    QTextStream(stderr) << "quorvant-ctl: unknown command \"" << name << "\"\n";
    return usage(stderr, CtlOutput::Usage);
}
