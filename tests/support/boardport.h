#pragma once
// The board's end of the box's serial line (/dev/board): sends bytes as the DMX interface board
// would and collects, frame by frame, everything the daemon writes to the board.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <cstdint>

class BoardPort : public QObject
{
    Q_OBJECT
public:
    static constexpr const char *DefaultPath = "/dev/board";

    explicit BoardPort(QObject *parent = nullptr);

    bool open(const QString &path = QString::fromLatin1(DefaultPath));
    bool isOpen() const;
    QString errorString() const;

    void send(const QByteArray &bytes);
    void sendOrder(uint8_t command, uint16_t value = 0);

    // Frames the daemon wrote since open() or the last clear(), oldest first.
    QList<QByteArray> frames() const;
    void clear();
    bool waitForFrames(int count, int timeoutMs);
    // Sends `marker`, a frame the daemon acknowledges and otherwise ignores, and waits for its echo:
    // every frame the daemon wrote before it is then in. Returns those frames without the echo,
    // or a note that the echo never came.
    QList<QByteArray> framesUpToEchoOf(const QByteArray &marker, int timeoutMs = 5000);

signals:
    void frameReceived(const QByteArray &frame);

private:
    void onReadyRead();

    QSerialPort m_port;
    QByteArray m_pending;
    QList<QByteArray> m_frames;
};
