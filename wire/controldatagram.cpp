#include "wire/controldatagram.h"

namespace {
const QByteArray prefix = QByteArrayLiteral("zr605");
}

QByteArray ControlDatagram::build(quint8 state, quint8 track, quint8 mode, quint8 volume)
{
    QByteArray datagram = prefix;
    datagram.append(char(state)).append(char(track)).append(char(mode)).append(char(volume));
    return datagram;
}

bool ControlDatagram::hasControlData(const QByteArray &datagram)
{
    return datagram.startsWith(prefix);
}

QByteArray ControlDatagram::payload(const QByteArray &datagram)
{
    return datagram.mid(prefix.size());
}

quint8 ControlDatagram::level(const QByteArray &payload, Level which)
{
    return which < payload.size() ? quint8(payload.at(which)) : 0;
}

int ControlDatagram::mapLevel(Level which, quint8 value)
{
    switch (which) {
    case StateLevel: return state(value);
    case TrackLevel: return track(value);
    case ModeLevel: return mode(value);
    case VolumeLevel: return volume(value);
    }
    return 0;
}

int ControlDatagram::levelFor(Level which, int value)
{
    int lowest = -1;
    int highest = -1;
    for (int level = 0; level <= 255; ++level) {
        if (mapLevel(which, quint8(level)) != value)
            continue;
        if (lowest < 0)
            lowest = level;
        highest = level;
    }
    return lowest < 0 ? -1 : (lowest + highest) / 2;
}

int ControlDatagram::state(quint8 value)
{
    if (value < 64)
        return Stop;
    return value < 128 ? Pause : Play;
}

int ControlDatagram::track(quint8 value)
{
    // Integer division truncates toward zero, so level 0 gives track 0 like levels 1 to 3.
    return (int(value) - 1) / 3;
}

int ControlDatagram::mode(quint8 value)
{
    if (value < 64)
        return 0;
    if (value < 128)
        return 1;
    if (value < 192)
        return 2;
    return value < 250 ? 3 : 4;
}

int ControlDatagram::volume(quint8 value)
{
    return value / 4;
}
