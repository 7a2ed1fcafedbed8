#pragma once
// Turns one typed simulator command ("play", "track 3", "signal off", "raw ff 02 00 00 fe") into
// the bytes the board sends, or into a simulator action (wait, quit).

#include <QByteArray>
#include <QString>

struct BoardCommand
{
    enum Kind { Send, Wait, Quit, Empty, Invalid };

    Kind kind = Empty;
    QByteArray bytes;   // Send
    int waitMs = 0;     // Wait
    QString error;      // Invalid

    static BoardCommand parse(const QString &line);
    static QString help();
};
