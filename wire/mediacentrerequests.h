#ifndef MEDIACENTREREQUESTS_H
#define MEDIACENTREREQUESTS_H

#include <QJsonObject>
#include <QString>

// The JSON-RPC requests the player sends to the media centre, byte for byte as the
// media centre has always received them, with every text value escaped as a JSON string.
class MediaCentreRequests
{
public:
    static constexpr int shortestDisplayTimeMs = 1500;

    static QString notification(const QString &title, const QString &message, int displayTimeMs);
    static QString volume(int volume);
    static QString pause(int playerId);
    static QString resume(int playerId);
    static QString stop(int playerId);
    static QString open(const QString &path);
    // An error reply to open(): only that request carries the id as a string, and the media centre
    // answers with the id as it was sent.
    static bool isOpenRefusal(const QJsonObject &reply);
    // Asks which players play. The serial comes back in the answer's id, so an answer about an
    // earlier entry is told apart.
    static QString activePlayers(int serial);
    // True only for the answer to activePlayers(serial) that lists no player at all: the item the
    // media centre reported playing has already gone without a word.
    static bool listsNoActivePlayer(const QJsonObject &reply, int serial);

    // The contents of a JSON string literal for text, without the surrounding quotes.
    static QString escaped(const QString &text);
};

#endif // MEDIACENTREREQUESTS_H
