#include "wire/dmxorder.h"

#include <QIODevice>
#include <QRegularExpression>

QDataStream &operator<<(QDataStream &stream, const DmxOrder &order)
{
    stream.setByteOrder(QDataStream::LittleEndian);
    stream << order.startByte << order.cmd << order.value << order.endByte;
    return stream;
}

QDataStream &operator>>(QDataStream &stream, DmxOrder &order)
{
    stream.setByteOrder(QDataStream::LittleEndian);
    stream >> order.startByte >> order.cmd >> order.value >> order.endByte;
    return stream;
}

QByteArray DmxOrder::toBytes() const
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << *this;
    return bytes;
}

DmxOrder DmxOrder::fromBytes(const QByteArray &frame)
{
    DmxOrder order;
    order.startByte = order.cmd = order.endByte = 0;
    order.value = 0;
    QDataStream stream(frame.left(FrameSize));
    stream >> order;
    return order;
}

namespace DmxFrame {

// Checked on the raw bytes: decoding a whole order here would cost a data stream per frame on the
// path from the board to the media centre, only to look at two bytes.
static bool hasFrameMarks(const QByteArray &group)
{
    return uint8_t(group.front()) == DmxOrder::StartByte && uint8_t(group.back()) == DmxOrder::EndByte;
}

static void resynchronise(QByteArray &pending, const QByteArray &badGroup)
{
    const int next = badGroup.indexOf(char(DmxOrder::StartByte), 1);
    pending = next < 0 ? QByteArray() : badGroup.mid(next);
}

QList<QByteArray> cut(QByteArray &pending, const QByteArray &incoming)
{
    QList<QByteArray> frames;
    for (const char byte : incoming) {
        pending.append(byte);
        if (pending.size() < DmxOrder::FrameSize)
            continue;
        const QByteArray group = pending;
        pending.clear();
        frames.append(group);
        if (!hasFrameMarks(group))
            resynchronise(pending, group);
    }
    return frames;
}

QString toHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

bool fromHex(const QString &text, QByteArray *bytes)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("\\s")));
    static const QRegularExpression hexOnly(QStringLiteral("^([0-9A-Fa-f]{2})*$"));
    if (!hexOnly.match(digits).hasMatch())
        return false;
    *bytes = QByteArray::fromHex(digits.toLatin1());
    return true;
}

QString commandName(uint8_t command)
{
    static const char *const names[] = {
        "CMD_0",          "CMD_STOP",         "CMD_PLAY",       "CMD_PAUSE",
        "CMD_MOVIE_NBR",  "CMD_MODE",         "CMD_VOLUME_LEFT", "CMD_VOLUME_RIGHT",
        "CMD_BASS_LEVEL", "CMD_TREBLE_LEVEL", "CMD_NO_SIGNAL",  "CMD_SERIAL",
        "CMD_RESET",      "CMD_DMX_ADDR",     "CMD_ALL",
    };
    if (command < sizeof(names) / sizeof(names[0]))
        return QString::fromLatin1(names[command]);
    return QStringLiteral("CMD_%1").arg(command);
}

} // namespace DmxFrame
