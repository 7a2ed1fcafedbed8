#pragma once
// One five-byte frame of the DMX interface board line (FF cmd value-le16 FE) and its codec,
// shared by the serial link, the tests and the board simulator.

#include <QByteArray>
#include <QDataStream>
#include <QList>
#include <QString>
#include <cstdint>

enum Cmd : uint8_t {
    CMD_STOP = 1,
    CMD_PLAY = 2,
    CMD_PAUSE = 3,
    CMD_MOVIE_NBR = 4,
    CMD_MODE = 5,
    CMD_VOLUME_LEFT = 6,
    CMD_VOLUME_RIGHT = 7,
    CMD_BASS_LEVEL = 8,
    CMD_TREBLE_LEVEL = 9,
    CMD_NO_SIGNAL = 10,
    CMD_SERIAL = 11,
    CMD_RESET = 12,
    CMD_DMX_ADDR = 13,
    CMD_ALL = 14,
};

struct DmxOrder
{
    static constexpr int FrameSize = 5;
    static constexpr uint8_t StartByte = 0xFF;
    static constexpr uint8_t EndByte = 0xFE;

    int8_t startByte = int8_t(StartByte);
    int8_t cmd = CMD_STOP;
    int16_t value = 0;
    int8_t endByte = int8_t(EndByte);

    DmxOrder() = default;
    DmxOrder(uint8_t command, uint16_t argument) : cmd(int8_t(command)), value(int16_t(argument)) {}

    uint8_t command() const { return uint8_t(cmd); }
    uint16_t argument() const { return uint16_t(value); }
    bool hasFrameMarks() const { return uint8_t(startByte) == StartByte && uint8_t(endByte) == EndByte; }

    QByteArray toBytes() const;
    // Reads exactly FrameSize bytes; shorter input leaves the missing fields zero.
    static DmxOrder fromBytes(const QByteArray &frame);
};

QDataStream &operator<<(QDataStream &stream, const DmxOrder &order);
QDataStream &operator>>(QDataStream &stream, DmxOrder &order);

namespace DmxFrame {

// Appends the incoming bytes to the pending collector and returns every complete five-byte group,
// in order; the remainder stays in the collector. Groups are found by counting bytes, since
// value bytes may be 0xFF or 0xFE. After a group without frame marks the collector resynchronises
// on the next 0xFF inside that group, so one stray byte on the line does not shift every later frame.
QList<QByteArray> cut(QByteArray &pending, const QByteArray &incoming);

// "FF 02 00 00 FE"
QString toHex(const QByteArray &bytes);
// Accepts hex pairs separated by blanks or not ("ff0200 00fe"); returns false on anything else.
bool fromHex(const QString &text, QByteArray *bytes);

QString commandName(uint8_t command);

} // namespace DmxFrame
