// UDP transport control datagram: "zr605" followed by four control levels (state, track,
// mode, volume), and the bands that map each level to a player command.
#pragma once

#include <QByteArray>

class ControlDatagram
{
public:
    enum Level { StateLevel = 0, TrackLevel = 1, ModeLevel = 2, VolumeLevel = 3 };
    enum State { Stop = 0, Pause = 1, Play = 2 };

    static QByteArray build(quint8 state, quint8 track, quint8 mode, quint8 volume);
    static bool hasControlData(const QByteArray &datagram);
    static QByteArray payload(const QByteArray &datagram);

    // A level missing from a short payload counts as 0.
    static quint8 level(const QByteArray &payload, Level which);
    static int mapLevel(Level which, quint8 value);
    // The level in the middle of the band that maps to `value` (the sender's side), or -1 when
    // no level maps to it.
    static int levelFor(Level which, int value);

    static int state(quint8 value);
    static int track(quint8 value);
    static int mode(quint8 value);
    static int volume(quint8 value);
};
