#include "tools/standins/boardport.h"

#include "wire/dmxorder.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace {

// Turns the event loop until `done` holds (asked once per turn: it may consume what it found) or
// the time is up.
template <typename Done>
bool waitFor(Done done, int timeoutMs)
{
    bool finished = done();
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        finished = done();
        if (finished || deadline.hasExpired())
            loop.quit();
    });
    poll.start(5);
    if (!finished)
        loop.exec();
    return finished;
}

} // namespace

BoardPort::BoardPort(QObject *parent)
    : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        for (const QByteArray &frame : DmxFrame::cut(m_pending, m_port.readAll())) {
            m_frames.append(frame);
            emit frameReceived(frame);
        }
    });
}

// QSerialPort opens the line raw at 9600 baud 8N1, the board's own settings.
bool BoardPort::open()
{
    m_port.setPortName(QStringLiteral("/dev/board"));
    return m_port.open(QIODevice::ReadWrite);
}

void BoardPort::send(const QByteArray &bytes)
{
    m_port.write(bytes);
    m_port.flush();
}

void BoardPort::sendOrder(uint8_t command, uint16_t value)
{
    send(DmxOrder(command, value).toBytes());
}

bool BoardPort::waitForFrames(int count, int timeoutMs)
{
    return waitFor([&] { return m_frames.size() >= count; }, timeoutMs);
}

QList<QByteArray> BoardPort::framesBeforeEcho()
{
    const QByteArray marker = DmxOrder(CMD_SERIAL, 0x5AA5).toBytes();
    send(marker);
    if (!waitFor([&] { return m_frames.removeAll(marker) > 0; }, 5000))
        return {"marker never acknowledged"};
    return m_frames;
}
