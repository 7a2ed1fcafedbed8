#include "tests/support/boardport.h"

#include "link/dmxorder.h"

#include <QDeadlineTimer>
#include <QTest>

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
    QDeadlineTimer deadline(timeoutMs);
    while (m_frames.size() < count && !deadline.hasExpired())
        QTest::qWait(10);
    return m_frames.size() >= count;
}

QList<QByteArray> BoardPort::framesBeforeEcho()
{
    const QByteArray marker = DmxOrder(CMD_SERIAL, 0x5AA5).toBytes();
    send(marker);
    QDeadlineTimer deadline(5000);
    while (!m_frames.contains(marker) && !deadline.hasExpired())
        QTest::qWait(10);
    if (m_frames.removeAll(marker) == 0)
        return {"marker never acknowledged"};
    return m_frames;
}
