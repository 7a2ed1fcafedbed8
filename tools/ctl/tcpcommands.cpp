#include "tools/ctl/tcpcommands.h"

#include "tools/ctl/ctlcommand.h"
#include "tools/ctl/tcpsession.h"
#include "tools/ctl/udpclient.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QThread>

#include <memory>

using namespace TcpProtocol;

namespace {

const QString passwordOption = QStringLiteral("password");

// Every command here takes the box address and the login password the same way.
void addLoginArguments(CtlCommand &command)
{
    command.addPositional(QStringLiteral("HOST"), QStringLiteral("Address of the box."));
    command.addValueOption(passwordOption, QStringLiteral("text"),
                           QStringLiteral("Login password (default: the box's serial number, the factory password, "
                                          "learnt by discovery)."));
}

int fail(const CtlCommand &command, CtlOutput::ExitCode code, const QString &text)
{
    return command.output().fail(code, text);
}

// Connects and logs in; on failure prints the reason and leaves the exit code in *exitCode.
std::unique_ptr<TcpSession> loggedIn(const CtlCommand &command, int *exitCode, QString *used = nullptr)
{
    const QString host = command.positional(0);
    QString password = command.value(passwordOption);
    if (!command.isSet(passwordOption)) {
        QHostAddress address;
        UdpClient udp(command.timeoutMs());
        QString serial;
        if (!UdpClient::resolve(host, &address)) {
            *exitCode = fail(command, CtlOutput::NoBox, QStringLiteral("cannot find the address of %1").arg(host));
            return nullptr;
        }
        if (!udp.querySerial(address, &serial)) {
            *exitCode = fail(command, udp.error(), udp.errorText() + QStringLiteral("; give --password"));
            return nullptr;
        }
        password = serial;
    }
    if (used)
        *used = password;
    auto session = std::make_unique<TcpSession>(host, port, command.timeoutMs());
    if (!session->open() || !session->login(password)) {
        *exitCode = fail(command, session->error(), session->errorText());
        return nullptr;
    }
    return session;
}

QJsonObject responseJson(const Reply &reply)
{
    return {{QStringLiteral("response"), reply.code},
            {QStringLiteral("meaning"), TcpSession::responseMeaning(reply.code)},
            {QStringLiteral("serial"), QString::fromUtf8(reply.serialNumber)}};
}

// Prints a response reply; the expected code is success, any other a refusal.
int showResponse(const CtlCommand &command, const Reply &reply, quint8 expected)
{
    if (reply.code != expected) {
        const auto code = reply.code == RespPasswordRefused ? CtlOutput::Refused : CtlOutput::MalformedReply;
        return fail(command, code, QStringLiteral("%1: %2").arg(command.positional(0), TcpSession::responseMeaning(reply.code)));
    }
    command.output().print(responseJson(reply), QStringLiteral("%1 (response %2, serial %3)")
                                                    .arg(TcpSession::responseMeaning(reply.code))
                                                    .arg(reply.code)
                                                    .arg(QString::fromUtf8(reply.serialNumber)));
    return CtlOutput::Ok;
}

QJsonObject networkJson(const msgNetworkConfiguration &network)
{
    return {{QStringLiteral("ip"), QString::fromUtf8(network.ip)},
            {QStringLiteral("gateway"), QString::fromUtf8(network.gw)},
            {QStringLiteral("prefix"), network.mask},
            {QStringLiteral("dhcp"), network.dhcp},
            {QStringLiteral("serial"), QString::fromUtf8(network.serialNumber)},
            {QStringLiteral("udpPort"), network.port}};
}

QString networkText(const msgNetworkConfiguration &network)
{
    return CtlOutput::fields({{QStringLiteral("Mode"), network.dhcp ? QStringLiteral("DHCP") : QStringLiteral("static")},
                              {QStringLiteral("Address"), QString::fromUtf8(network.ip)},
                              {QStringLiteral("Prefix"), QString::number(network.mask)},
                              {QStringLiteral("Gateway"), QString::fromUtf8(network.gw)},
                              {QStringLiteral("Serial"), QString::fromUtf8(network.serialNumber)},
                              {QStringLiteral("UDP control port"), QString::number(network.port)}});
}

bool readNetwork(TcpSession &session, msgNetworkConfiguration *network)
{
    Reply reply;
    if (!session.exchange(plainRequest(CmdReadNetworkConfiguration), Reply::NetworkConfiguration, &reply))
        return false;
    *network = reply.network;
    return true;
}

// The new settings from the command line, or false after a usage error.
bool networkChange(CtlCommand &command, msgNetworkConfiguration *change)
{
    const bool dhcp = command.isSet(QStringLiteral("dhcp"));
    const bool anyStatic = command.isSet(QStringLiteral("address")) || command.isSet(QStringLiteral("prefix"))
                           || command.isSet(QStringLiteral("gateway"));
    if (dhcp && anyStatic) {
        command.usageError(QStringLiteral("--dhcp and static settings exclude each other"));
        return false;
    }
    change->dhcp = dhcp;
    if (dhcp)
        return true;
    if (!command.isSet(QStringLiteral("address")) || !command.isSet(QStringLiteral("prefix"))
        || !command.isSet(QStringLiteral("gateway"))) {
        command.usageError(QStringLiteral("a static setting needs --address, --prefix and --gateway"));
        return false;
    }
    int prefix = 0;
    if (!command.intValue(QStringLiteral("prefix"), 0, 32, &prefix))
        return false;
    change->ip = command.value(QStringLiteral("address")).toUtf8();
    change->gw = command.value(QStringLiteral("gateway")).toUtf8();
    change->mask = quint8(prefix);
    if (!isAcceptableNetworkConfiguration(change->ip, change->gw, change->mask, false)) {
        command.usageError(QStringLiteral("--address and --gateway take dotted IPv4 addresses such as 192.168.1.20"));
        return false;
    }
    return true;
}

} // namespace

int TcpCommands::network(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("network"),
                       QStringLiteral("Shows the network settings of a box, or writes new ones; after a write the "
                                      "box applies them and reboots."));
    addLoginArguments(command);
    command.addFlag(QStringLiteral("dhcp"), QStringLiteral("Write: obtain the address by DHCP."));
    command.addValueOption(QStringLiteral("address"), QStringLiteral("ip"), QStringLiteral("Write: static IPv4 address."));
    command.addValueOption(QStringLiteral("prefix"), QStringLiteral("n"), QStringLiteral("Write: prefix length (24 for 255.255.255.0)."));
    command.addValueOption(QStringLiteral("gateway"), QStringLiteral("ip"), QStringLiteral("Write: default gateway."));
    if (!command.parse(arguments))
        return command.exitCode();
    const bool write = command.isSet(QStringLiteral("dhcp")) || command.isSet(QStringLiteral("address"))
                       || command.isSet(QStringLiteral("prefix")) || command.isSet(QStringLiteral("gateway"));
    msgNetworkConfiguration change;
    if (write && !networkChange(command, &change))
        return command.exitCode();

    int exitCode = CtlOutput::Ok;
    const auto session = loggedIn(command, &exitCode);
    if (!session)
        return exitCode;
    msgNetworkConfiguration current;
    if (!readNetwork(*session, &current))
        return fail(command, session->error(), session->errorText());
    if (!write) {
        command.output().print(networkJson(current), networkText(current));
        return CtlOutput::Ok;
    }
    if (change.dhcp) {
        // Keep the static values stored on the box, so switching back later has them at hand.
        change.ip = current.ip;
        change.gw = current.gw;
        change.mask = current.mask;
        // The box refuses a stored value it cannot take back (and then never answers), so such
        // values are not kept.
        if (change.mask > 32) {
            command.output().note(QStringLiteral("the box holds a prefix of %1, which it refuses; 0 is sent instead")
                                      .arg(change.mask));
            change.mask = 0;
        }
        if (!isAcceptableNetworkConfiguration(change.ip, change.gw, change.mask, true)) {
            change.ip.clear();
            change.gw.clear();
        }
    }
    change.serialNumber = session->serialNumber();
    change.port = current.port;
    Reply reply;
    if (!session->exchange(networkConfigurationRequest(change), Reply::Response, &reply)) {
        const QString hint = session->error() == CtlOutput::Timeout
                                 ? QStringLiteral(" (the box ignores settings it cannot apply)") : QString();
        return fail(command, session->error(), session->errorText() + hint);
    }
    return showResponse(command, reply, RespNetworkApplied);
}

int TcpCommands::device(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("device"),
                       QStringLiteral("Stores the DMX start channel and the device name of a box. A value not given "
                                      "is kept as the box's discovery record shows it."));
    addLoginArguments(command);
    command.addValueOption(QStringLiteral("channel"), QStringLiteral("n"), QStringLiteral("DMX start channel, 1 to 255."));
    command.addValueOption(QStringLiteral("name"), QStringLiteral("text"),
                           QStringLiteral("Device name, at most %1 bytes.").arg(labelFieldSize));
    if (!command.parse(arguments))
        return command.exitCode();
    const bool hasChannel = command.isSet(QStringLiteral("channel"));
    const bool hasName = command.isSet(QStringLiteral("name"));
    if (!hasChannel && !hasName)
        return command.usageError(QStringLiteral("give --channel, --name or both"));
    int channel = 0;
    if (hasChannel && !command.intValue(QStringLiteral("channel"), 1, 255, &channel))
        return command.exitCode();
    QByteArray name = command.value(QStringLiteral("name")).toUtf8();
    if (name.size() > labelFieldSize)
        return command.usageError(QStringLiteral("--name is %1 bytes long; the box keeps at most %2").arg(name.size()).arg(labelFieldSize));

    if (!hasChannel || !hasName) {
        QHostAddress address;
        UdpClient udp(command.timeoutMs());
        DiscoveryRecord record;
        if (!UdpClient::resolve(command.positional(0), &address) || !udp.queryRecord(address, &record))
            return fail(command, udp.error() == CtlOutput::Ok ? CtlOutput::NoBox : udp.error(),
                        QStringLiteral("cannot read the current channel and name of %1; give both").arg(command.positional(0)));
        if (!hasChannel)
            channel = record.channel;
        // Discovery cuts the name to 16 bytes, at a character boundary: a shown name of 13 bytes or
        // more may have lost up to three, and sending it back would shorten the name for good.
        if (!hasName && record.deviceName.toUtf8().size() > DiscoveryRecord::NameSize - 4)
            return command.usageError(QStringLiteral("the box's name may be longer than discovery shows; give --name too"));
        if (!hasName)
            name = record.deviceName.toUtf8();
    }

    int exitCode = CtlOutput::Ok;
    const auto session = loggedIn(command, &exitCode);
    if (!session)
        return exitCode;
    Reply reply;
    // File type 0 is the device configuration; the box ignores every other type.
    if (!session->exchange(deviceConfigurationRequest(quint8(channel), 0, name), Reply::Response, &reply))
        return fail(command, session->error(), session->errorText());
    return showResponse(command, reply, RespConfigurationStored);
}

int TcpCommands::password(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("password"),
                       QStringLiteral("Changes the login password of a box; --password is the current one."));
    addLoginArguments(command);
    command.addValueOption(QStringLiteral("new"), QStringLiteral("text"), QStringLiteral("The new password."));
    if (!command.parse(arguments))
        return command.exitCode();
    if (!command.isSet(QStringLiteral("new")) || command.value(QStringLiteral("new")).isEmpty())
        return command.usageError(QStringLiteral("missing --new TEXT"));

    int exitCode = CtlOutput::Ok;
    QString old;
    const auto session = loggedIn(command, &exitCode, &old);
    if (!session)
        return exitCode;
    // The old password is the one we just logged in with; the box checks it once more.
    Reply reply;
    if (!session->exchange(changePasswordRequest(TcpSession::passwordDigest(old),
                                                 TcpSession::passwordDigest(command.value(QStringLiteral("new")))),
                           Reply::Response, &reply))
        return fail(command, session->error(), session->errorText());
    return showResponse(command, reply, RespPasswordChanged);
}

int TcpCommands::files(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("files"),
                       QStringLiteral("Lists the configuration files on the box's USB stick (config.ini and the "
                                      "playlist's tracks); --remove deletes them."));
    addLoginArguments(command);
    command.addFlag(QStringLiteral("remove"),
                    QStringLiteral("Delete the listed files. The box does not answer this request, and stops at the "
                                   "first file it cannot delete."));
    if (!command.parse(arguments))
        return command.exitCode();

    int exitCode = CtlOutput::Ok;
    const auto session = loggedIn(command, &exitCode);
    if (!session)
        return exitCode;
    Reply reply;
    if (!session->exchange(plainRequest(CmdListFiles), Reply::FileList, &reply))
        return fail(command, session->error(), session->errorText());
    const bool remove = command.isSet(QStringLiteral("remove"));
    if (remove && !session->sendOnly(plainRequest(CmdRemoveFiles)))
        return fail(command, session->error(), session->errorText());

    QJsonObject result{{QStringLiteral("serial"), QString::fromUtf8(reply.serialNumber)},
                       {QStringLiteral("files"), QJsonArray::fromStringList(reply.files)}};
    if (remove)
        result.insert(QStringLiteral("removeRequested"), true);
    QString text = (remove ? QStringLiteral("Asked %1 to remove %2 files:\n") : QStringLiteral("%1 lists %2 files:\n"))
                       .arg(command.positional(0)).arg(reply.files.size());
    for (const QString &file : qAsConst(reply.files))
        text += QStringLiteral("  ") + file + QLatin1Char('\n');
    command.output().print(result, text);
    return CtlOutput::Ok;
}

int TcpCommands::reboot(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("reboot"), QStringLiteral("Reboots a box."));
    addLoginArguments(command);
    command.addFlag(QStringLiteral("no-ack"), QStringLiteral("Ask for the reboot without an acknowledgement."));
    if (!command.parse(arguments))
        return command.exitCode();

    int exitCode = CtlOutput::Ok;
    const auto session = loggedIn(command, &exitCode);
    if (!session)
        return exitCode;
    if (command.isSet(QStringLiteral("no-ack"))) {
        if (!session->sendOnly(plainRequest(CmdRebootWithoutAck)))
            return fail(command, session->error(), session->errorText());
        command.output().print(QJsonObject{{QStringLiteral("rebootRequested"), true}},
                               QStringLiteral("Reboot requested (no acknowledgement asked for)"));
        return CtlOutput::Ok;
    }
    Reply reply;
    if (!session->exchange(plainRequest(CmdRebootWithAck), Reply::Response, &reply))
        return fail(command, session->error(), session->errorText());
    return showResponse(command, reply, RespRebootAccepted);
}
