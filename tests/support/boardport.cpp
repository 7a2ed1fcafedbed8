#include "tests/support/boardport.h"

#include "link/dmxorder.h"

#include <QDeadlineTimer>
#include <QTest>

BoardPort::BoardPort(QObject *parent)
    : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &BoardPort::onReadyRead);
}

bool BoardPort::open(const QString &path)
{
    m_port.setPortName(path);
    if (!m_port.open(QIODevice::ReadWrite))
        return false;
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setStopBits(QSerialPort::OneStop);
    return true;
}

bool BoardPort::isOpen() const
{
    return m_port.isOpen();
}

QString BoardPort::errorString() const
{
    return m_port.errorString();
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

QList<QByteArray> BoardPort::frames() const
{
    return m_frames;
}

void BoardPort::clear()
{
    m_frames.clear();
}

bool BoardPort::waitForFrames(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_frames.size() < count && !deadline.hasExpired())
        QTest::qWait(10);
    return m_frames.size() >= count;
}

QList<QByteArray> BoardPort::framesUpToEchoOf(const QByteArray &marker, int timeoutMs)
{
    send(marker);
    QDeadlineTimer deadline(timeoutMs);
    while (!m_frames.contains(marker) && !deadline.hasExpired())
        QTest::qWait(10);
    QList<QByteArray> frames = m_frames;
    if (frames.removeAll(marker) == 0)
        frames << "marker never acknowledged";
    return frames;
}

void BoardPort::onReadyRead()
{
    for (const QByteArray &frame : DmxFrame::cut(m_pending, m_port.readAll())) {
        m_frames.append(frame);
        emit frameReceived(frame);
    }
}
