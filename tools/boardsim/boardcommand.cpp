#include "tools/boardsim/boardcommand.h"

#include "wire/dmxorder.h"

#include <QMap>
#include <QStringList>

namespace {

BoardCommand invalid(const QString &error)
{
    BoardCommand command;
    command.kind = BoardCommand::Invalid;
    command.error = error;
    return command;
}

BoardCommand sending(const QByteArray &bytes)
{
    BoardCommand command;
    command.kind = BoardCommand::Send;
    command.bytes = bytes;
    return command;
}

bool parseValue(const QStringList &words, uint16_t *value)
{
    if (words.size() != 2)
        return false;
    bool ok = false;
    const uint number = words.at(1).toUInt(&ok, 0);
    if (!ok || number > 0xFFFF)
        return false;
    *value = uint16_t(number);
    return true;
}

} // namespace

BoardCommand BoardCommand::parse(const QString &line)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty() || words.first().startsWith(QLatin1Char('#')))
        return BoardCommand();
    const QString verb = words.first().toLower();

    static const QMap<QString, Cmd> plain = {
        {QStringLiteral("stop"), CMD_STOP}, {QStringLiteral("play"), CMD_PLAY},
        {QStringLiteral("pause"), CMD_PAUSE},
    };
    static const QMap<QString, Cmd> valued = {
        {QStringLiteral("track"), CMD_MOVIE_NBR},    {QStringLiteral("mode"), CMD_MODE},
        {QStringLiteral("volume"), CMD_VOLUME_LEFT}, {QStringLiteral("right"), CMD_VOLUME_RIGHT},
        {QStringLiteral("bass"), CMD_BASS_LEVEL},    {QStringLiteral("treble"), CMD_TREBLE_LEVEL},
        {QStringLiteral("address"), CMD_DMX_ADDR},
    };

    if (plain.contains(verb)) {
        if (words.size() != 1)
            return invalid(QStringLiteral("%1 takes no argument").arg(verb));
        return sending(DmxOrder(plain.value(verb), 0).toBytes());
    }
    if (valued.contains(verb)) {
        uint16_t value = 0;
        if (!parseValue(words, &value))
            return invalid(QStringLiteral("%1 needs one number 0-65535").arg(verb));
        return sending(DmxOrder(valued.value(verb), value).toBytes());
    }
    if (verb == QLatin1String("signal")) {
        const QString state = words.value(1).toLower();
        if (words.size() != 2 || (state != QLatin1String("on") && state != QLatin1String("off")))
            return invalid(QStringLiteral("signal needs on or off"));
        return sending(DmxOrder(CMD_NO_SIGNAL, state == QLatin1String("on") ? 1 : 0).toBytes());
    }
    if (verb == QLatin1String("raw")) {
        QByteArray bytes;
        if (!DmxFrame::fromHex(words.mid(1).join(QLatin1Char(' ')), &bytes) || bytes.isEmpty())
            return invalid(QStringLiteral("raw needs hex bytes, e.g. raw ff 02 00 00 fe"));
        return sending(bytes);
    }
    if (verb == QLatin1String("wait")) {
        uint16_t ms = 0;
        if (!parseValue(words, &ms))
            return invalid(QStringLiteral("wait needs milliseconds 0-65535"));
        BoardCommand command;
        command.kind = Wait;
        command.waitMs = ms;
        return command;
    }
    if (verb == QLatin1String("quit") || verb == QLatin1String("exit")) {
        BoardCommand command;
        command.kind = Quit;
        return command;
    }
    return invalid(QStringLiteral("unknown command \"%1\"; type help").arg(verb));
}

QString BoardCommand::help()
{
    return QStringLiteral(
        "commands (one per line):\n"
        "  play | pause | stop\n"
        "  track N | mode N | volume N      N = 0..65535 (volume 0..63 is full range)\n"
        "  right N | bass N | treble N      reported but unused by the daemon\n"
        "  signal on|off                    DMX signal present / lost\n"
        "  address N                        report that the board took address value N\n"
        "  raw HEX...                       any bytes, e.g. raw ff 02 00 00 fe\n"
        "  wait MS                          pause before the next command\n"
        "  quit\n");
}
