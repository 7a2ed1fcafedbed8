#include "tools/ctl/udpcommands.h"

#include "wire/controldatagram.h"
#include "tools/ctl/ctlcommand.h"
#include "tools/ctl/udpclient.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

const QStringList stateNames{QStringLiteral("stop"), QStringLiteral("pause"), QStringLiteral("play")};

QString storageText(qint64 bytes)
{
    if (bytes < 0)
        return QStringLiteral("none");
    return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
}

QJsonObject boxJson(const UdpClient::Box &box)
{
    QJsonObject json{{QStringLiteral("address"), box.address.toString()}};
    if (box.hasRecord) {
        json.insert(QStringLiteral("name"), box.record.deviceName);
        json.insert(QStringLiteral("serial"), box.record.serialNumber);
        json.insert(QStringLiteral("channel"), box.record.channel);
    }
    if (box.hasInfo) {
        const DeviceInfo &info = box.info;
        json.insert(QStringLiteral("search"), QJsonObject{
            {QStringLiteral("name"), info.name},
            {QStringLiteral("serial"), double(info.serial)},
            {QStringLiteral("dhcp"), info.dhcp != 0},
            {QStringLiteral("ip"), DeviceInfo::ipv4Text(info.ip)},
            {QStringLiteral("prefix"), info.mask},
            {QStringLiteral("gateway"), DeviceInfo::ipv4Text(info.gateway)},
            {QStringLiteral("storageSize"), double(info.storageSize)},
            {QStringLiteral("configPresent"), info.configPresent != 0},
            {QStringLiteral("channel"), info.channel},
            {QStringLiteral("stickPassword"), info.password}});
    }
    return json;
}

QString boxesText(const QVector<UdpClient::Box> &boxes, bool search)
{
    QStringList headers{QStringLiteral("ADDRESS"), QStringLiteral("NAME"), QStringLiteral("SERIAL"), QStringLiteral("CHANNEL")};
    if (search)
        headers << QStringLiteral("NETWORK") << QStringLiteral("GATEWAY") << QStringLiteral("STICK")
                << QStringLiteral("CONFIG") << QStringLiteral("STICK CHANNEL");
    QVector<QStringList> rows;
    for (const UdpClient::Box &box : boxes) {
        QStringList row{box.address.toString()};
        if (box.hasRecord)
            row << box.record.deviceName << box.record.serialNumber << QString::number(box.record.channel);
        else
            row << box.info.name << QString::number(box.info.serial) << QStringLiteral("-");
        if (search && box.hasInfo) {
            const DeviceInfo &info = box.info;
            row << (info.dhcp ? QStringLiteral("dhcp") : QStringLiteral("%1/%2").arg(DeviceInfo::ipv4Text(info.ip)).arg(info.mask))
                << DeviceInfo::ipv4Text(info.gateway) << storageText(info.storageSize)
                << (info.configPresent ? QStringLiteral("yes") : QStringLiteral("no")) << QString::number(info.channel);
        } else if (search) {
            row << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-");
        }
        rows.append(row);
    }
    return CtlOutput::table(headers, rows);
}

bool hostAndPort(const QString &text, QString *host, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0 || text.count(QLatin1Char(':')) > 1) {
        *host = text;
        return true;
    }
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    *host = text.left(colon);
    *port = quint16(number);
    return ok && number > 0 && number <= 65535;
}

// Reads one level option and turns the wanted value into the level in the middle of its band.
bool levelOption(CtlCommand &command, const QString &name, ControlDatagram::Level which, int maximum, int fallback,
                 quint8 *level)
{
    int value = fallback;
    if (command.isSet(name) && !command.intValue(name, 0, maximum, &value))
        return false;
    *level = quint8(ControlDatagram::levelFor(which, value));
    return true;
}

QJsonObject levelsJson(const QByteArray &datagram)
{
    const QByteArray payload = ControlDatagram::payload(datagram);
    QJsonObject json;
    const QStringList names{QStringLiteral("state"), QStringLiteral("track"), QStringLiteral("mode"), QStringLiteral("volume")};
    for (int i = 0; i < names.size(); ++i) {
        const auto which = ControlDatagram::Level(i);
        const quint8 level = ControlDatagram::level(payload, which);
        json.insert(names[i], QJsonObject{{QStringLiteral("level"), level},
                                          {QStringLiteral("value"), ControlDatagram::mapLevel(which, level)}});
    }
    return json;
}

} // namespace

int UdpCommands::discover(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("discover"),
                       QStringLiteral("Finds the boxes on the local network by the discovery broadcast (answers on UDP "
                                      "port 50003); --search also sends the search order, which adds network "
                                      "settings and stick details."),
                       2000);
    command.addValueOption(QStringLiteral("broadcast"), QStringLiteral("addr"),
                           QStringLiteral("Where to send (a broadcast or one box); default: every interface's broadcast address."));
    command.addFlag(QStringLiteral("search"), QStringLiteral("Also send the search order on port 50555."));
    if (!command.parse(arguments))
        return command.exitCode();

    QList<QHostAddress> targets;
    if (command.isSet(QStringLiteral("broadcast"))) {
        QHostAddress target;
        if (!UdpClient::resolve(command.value(QStringLiteral("broadcast")), &target))
            return command.usageError(QStringLiteral("--broadcast takes an IPv4 address"));
        targets.append(target);
    } else {
        targets = UdpClient::broadcastAddresses();
        if (targets.isEmpty())
            return command.output().fail(CtlOutput::NoBox, QStringLiteral("no network interface with a broadcast address is up"));
    }

    const bool search = command.isSet(QStringLiteral("search"));
    UdpClient udp(command.timeoutMs());
    QVector<UdpClient::Box> boxes;
    if (!udp.discover(targets, search, &boxes))
        return command.output().fail(udp.error(), udp.errorText());
    if (boxes.isEmpty())
        return command.output().fail(CtlOutput::NoBox, QStringLiteral("no box answered within %1 ms").arg(command.timeoutMs()));

    QJsonArray json;
    for (const UdpClient::Box &box : qAsConst(boxes))
        json.append(boxJson(box));
    command.output().print(json, boxesText(boxes, search));
    return CtlOutput::Ok;
}

int UdpCommands::setSerial(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("set-serial"),
                       QStringLiteral("Gives a box its serial number (a number; the box stores it without leading zeros)."));
    command.addPositional(QStringLiteral("HOST"), QStringLiteral("Address of the box."));
    command.addPositional(QStringLiteral("SERIAL"), QStringLiteral("Serial number, 0 to 4294967295."));
    if (!command.parse(arguments))
        return command.exitCode();
    bool ok = false;
    const quint32 serial = command.positional(1).toUInt(&ok);
    if (!ok)
        return command.usageError(QStringLiteral("SERIAL must be a number from 0 to 4294967295"));
    QHostAddress host;
    if (!UdpClient::resolve(command.positional(0), &host))
        return command.output().fail(CtlOutput::NoBox, QStringLiteral("cannot find the address of %1").arg(command.positional(0)));

    UdpClient udp(command.timeoutMs());
    if (!udp.setSerial(host, serial))
        return command.output().fail(udp.error(), udp.errorText());
    command.output().print(QJsonObject{{QStringLiteral("host"), host.toString()},
                                       {QStringLiteral("serial"), double(serial)},
                                       {QStringLiteral("acknowledged"), true}},
                           QStringLiteral("%1 acknowledged serial number %2").arg(host.toString()).arg(serial));
    return CtlOutput::Ok;
}

int UdpCommands::control(const QStringList &arguments)
{
    CtlCommand command(QStringLiteral("control"),
                       QStringLiteral("Sends one transport control datagram (the box must have UDP control on) and "
                                      "shows its echo. Each value is sent as the level in the middle of its band; a "
                                      "value not given is sent as play, track 0, mode 0, volume 63."));
    command.addPositional(QStringLiteral("HOST[:PORT]"), QStringLiteral("Address of the box; port default 5555."));
    command.addValueOption(QStringLiteral("state"), QStringLiteral("play|pause|stop"), QStringLiteral("Transport state."));
    command.addValueOption(QStringLiteral("track"), QStringLiteral("n"), QStringLiteral("Playlist index, 0 to 84."));
    command.addValueOption(QStringLiteral("mode"), QStringLiteral("n"), QStringLiteral("Play mode, 0 to 4."));
    command.addValueOption(QStringLiteral("volume"), QStringLiteral("n"), QStringLiteral("Volume, 0 to 63."));
    if (!command.parse(arguments))
        return command.exitCode();

    QString hostText;
    quint16 port = UdpClient::ControlPort;
    if (!hostAndPort(command.positional(0), &hostText, &port))
        return command.usageError(QStringLiteral("the port after ':' must be 1 to 65535"));
    int state = ControlDatagram::Play;
    if (command.isSet(QStringLiteral("state"))) {
        state = stateNames.indexOf(command.value(QStringLiteral("state")).toLower());
        if (state < 0)
            return command.usageError(QStringLiteral("--state takes play, pause or stop"));
    }
    quint8 track = 0, mode = 0, volume = 0;
    if (!levelOption(command, QStringLiteral("track"), ControlDatagram::TrackLevel, 84, 0, &track)
        || !levelOption(command, QStringLiteral("mode"), ControlDatagram::ModeLevel, 4, 0, &mode)
        || !levelOption(command, QStringLiteral("volume"), ControlDatagram::VolumeLevel, 63, 63, &volume))
        return command.exitCode();
    QHostAddress host;
    if (!UdpClient::resolve(hostText, &host))
        return command.output().fail(CtlOutput::NoBox, QStringLiteral("cannot find the address of %1").arg(hostText));

    const QByteArray datagram = ControlDatagram::build(quint8(ControlDatagram::levelFor(ControlDatagram::StateLevel, state)),
                                                       track, mode, volume);
    UdpClient udp(command.timeoutMs());
    QByteArray echo;
    if (!udp.control(host, port, datagram, &echo))
        return command.output().fail(udp.error(), udp.errorText());

    const QJsonObject levels = levelsJson(echo);
    auto value = [&levels](const QString &name) { return levels.value(name).toObject().value(QStringLiteral("value")).toInt(); };
    command.output().print(QJsonObject{{QStringLiteral("host"), host.toString()},
                                       {QStringLiteral("port"), port},
                                       {QStringLiteral("echo"), QString::fromLatin1(echo.toHex(' '))},
                                       {QStringLiteral("levels"), levels}},
                           QStringLiteral("Echo from %1:%2: %3\n  state %4, track %5, mode %6, volume %7")
                               .arg(host.toString()).arg(port).arg(QString::fromLatin1(echo.toHex(' ')))
                               .arg(stateNames.value(value(QStringLiteral("state"))))
                               .arg(value(QStringLiteral("track"))).arg(value(QStringLiteral("mode")))
                               .arg(value(QStringLiteral("volume"))));
    return CtlOutput::Ok;
}
