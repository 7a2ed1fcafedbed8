#pragma once
// The board's end of the box's serial line (/dev/board): sends bytes as the DMX interface board
// would and collects, frame by frame, everything the daemon writes to the board.

#include <QObject>
#include <QSerialPort>
#include <cstdint>

class BoardPort : public QObject
{
    Q_OBJECT
public:
    explicit BoardPort(QObject *parent = nullptr);

    bool open();
    QString errorString() const { return m_port.errorString(); }

    void send(const QByteArray &bytes);
    void sendOrder(uint8_t command, uint16_t value = 0);
    // Bytes handed to send() that have not yet left for the line.
    qint64 bytesToWrite() const { return m_port.bytesToWrite(); }

    // Frames the daemon wrote since open() or the last clear(), oldest first.
    QList<QByteArray> frames() const { return m_frames; }
    void clear() { m_frames.clear(); }
    bool waitForFrames(int count, int timeoutMs);
    // Sends a frame the daemon acknowledges and otherwise ignores, and waits for its echo: every
    // frame the daemon wrote before it is then in. Returns frames(), which never hold that echo,
    // or a note that no echo came.
    QList<QByteArray> framesBeforeEcho();

signals:
    void frameReceived(const QByteArray &frame);

private:
    QSerialPort m_port;
    QByteArray m_pending;
    QList<QByteArray> m_frames;
};
