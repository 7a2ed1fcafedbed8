#pragma once
// Prints what a command of quorvant-ctl found, as a human-readable table or as JSON for scripts,
// and turns every failure into a message and a distinct exit code.

#include <QJsonValue>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

class CtlOutput
{
public:
    // Scripts tell the failures apart by these codes; keep them stable.
    enum ExitCode {
        Ok = 0,
        Failure = 1,          // local trouble: a file that cannot be read or written
        Usage = 2,            // bad command line
        NoBox = 3,            // nothing answers at that address (refused, unreachable, no discovery reply)
        Timeout = 4,          // connected, but the reply never came
        LoginRefused = 5,     // wrong password, or the box says we are not logged in
        MalformedReply = 6,   // a reply that cannot be decoded, also one cut short
        ConnectionClosed = 7, // the box closed the connection without answering
        Refused = 8           // the box answered and refused the change (e.g. wrong old password)
    };

    explicit CtlOutput(bool json = false);

    bool json() const { return m_json; }

    // Prints the result: the JSON value in JSON mode, the human text otherwise.
    void print(const QJsonValue &json, const QString &human) const;
    // Prints the message to stderr (and an error object in JSON mode); returns the code.
    int fail(ExitCode code, const QString &message) const;
    // A progress or warning line for people; never mixes into JSON on stdout.
    void note(const QString &message) const;

    static QString table(const QStringList &headers, const QVector<QStringList> &rows);
    static QString fields(const QVector<QPair<QString, QString>> &pairs);
    static QString exitCodeName(ExitCode code);

private:
    bool m_json;
};
