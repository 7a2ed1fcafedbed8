#include "link/dmxserialport.h"

#include "wire/dmxorder.h"

#include <QLoggingCategory>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>

// Every board frame passes several log lines, and formatting one costs more than the rest of the
// frame's handling; the daemon's message handler drops them all, so they are only built when this
// category is switched on (QLoggingCategory::setFilterRules("quorvant.dmx.debug=true")).
Q_LOGGING_CATEGORY(dmxLog, "quorvant.dmx", QtInfoMsg)

namespace {
const QString Pi3Device = QStringLiteral("/dev/ttyS0");
const QString Pi2Device = QStringLiteral("/dev/ttyAMA0");
}

DmxSerialPort::DmxSerialPort(QObject *parent)
    : QObject(parent)
{
    // Lets spies and queued string-based connections carry the 16-bit arguments.
    qRegisterMetaType<uint16_t>("uint16_t");
    const QString device = findDevice();
    if (device.isEmpty())
        return;
    m_serialPort = new QSerialPort(device, this);
    connect(m_serialPort, &QSerialPort::readyRead, this, &DmxSerialPort::onReadyRead);
}

QString DmxSerialPort::findDevice()
{
    QStringList locations;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        locations << info.systemLocation();
    if (locations.contains(Pi3Device)) {
        qCDebug(dmxLog) << "dmx: RPI3";
        return Pi3Device;
    }
    if (locations.contains(Pi2Device)) {
        qCDebug(dmxLog) << "dmx: RPI2";
        return Pi2Device;
    }
    return QString();
}

bool DmxSerialPort::open()
{
    if (!m_serialPort) {
        emit communicationInitialized(false);
        return false;
    }
    if (m_serialPort->isOpen()) {
        qCDebug(dmxLog) << "dmx: serial port already opened!";
        return true;
    }
    if (!m_serialPort->open(QIODevice::ReadWrite)) {
        qCDebug(dmxLog) << "dmx: cannot open serial port:" << m_serialPort->portName()
                        << m_serialPort->errorString();
        emit communicationInitialized(false);
        return false;
    }
    qCDebug(dmxLog) << "dmx: serial port opened";
    m_serialPort->clear(QSerialPort::Input);
    m_serialPort->readAll();
    configureLine();
    send(DmxOrder(CMD_RESET, 0).toBytes());
    emit communicationInitialized(true);
    return true;
}

void DmxSerialPort::configureLine()
{
    m_serialPort->setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    m_serialPort->setParity(QSerialPort::NoParity);
    m_serialPort->setDataBits(QSerialPort::Data8);
    m_serialPort->setStopBits(QSerialPort::OneStop);
}

void DmxSerialPort::send(const QByteArray &data)
{
    if (!m_serialPort || !m_serialPort->isOpen())
        return;
    const qint64 written = m_serialPort->write(data);
    m_serialPort->flush();
    qCDebug(dmxLog) << "dmx: send" << written << "bytes";
}

bool DmxSerialPort::enabled() const
{
    return m_enabled;
}

void DmxSerialPort::setEnabled(bool enabled)
{
    m_enabled = enabled;
}

bool DmxSerialPort::channelSet() const
{
    return m_channelSet;
}

void DmxSerialPort::setChannelSet(bool channelSet)
{
    m_channelSet = channelSet;
}

void DmxSerialPort::onReadyRead()
{
    // The port's buffer has no limit: bytes left there while the link is off would pile up for good.
    if (!m_enabled) {
        m_serialPort->skip(m_serialPort->bytesAvailable());
        return;
    }
    const QList<QByteArray> frames = DmxFrame::cut(m_readBuffer, m_serialPort->readAll());
    for (const QByteArray &frame : frames)
        parseFrame(frame);
}

void DmxSerialPort::parseFrame(const QByteArray &frame)
{
    const DmxOrder order = DmxOrder::fromBytes(frame);
    if (!order.hasFrameMarks())
        return;
    qCDebug(dmxLog) << "dmx: read command" << int(order.command());
    if (order.command() < CMD_STOP || order.command() > CMD_DMX_ADDR)
        return;
    if (!dispatch(order.command(), order.argument()))
        return;
    // The command just queued has woken the player's thread, most often onto this CPU. Giving way
    // lets it send its request to the media centre first; otherwise the echo's write and the tty
    // work it starts run ahead of it.
    QThread::yieldCurrentThread();
    send(frame);
}

// Returns whether the board expects the frame echoed back as acknowledgement.
bool DmxSerialPort::dispatch(uint8_t command, uint16_t value)
{
    switch (command) {
    case CMD_STOP:
        qCDebug(dmxLog) << "dmx: stop";
        emit stop();
        break;
    case CMD_PLAY:
        qCDebug(dmxLog) << "dmx: play";
        emit play();
        break;
    case CMD_PAUSE:
        qCDebug(dmxLog) << "dmx: pause";
        emit pause();
        break;
    case CMD_MOVIE_NBR:
        qCDebug(dmxLog) << "dmx: set track:" << value;
        emit setTrack(value);
        break;
    case CMD_MODE:
        qCDebug(dmxLog) << "dmx: set mode:" << value;
        emit setMode(value);
        break;
    case CMD_VOLUME_LEFT:
        qCDebug(dmxLog) << "dmx: set volume (L):" << value;
        emit setLeftVolume(value);
        break;
    case CMD_VOLUME_RIGHT:
        qCDebug(dmxLog) << "dmx: set volume (R):" << value;
        emit setRightVolume(value);
        break;
    case CMD_BASS_LEVEL:
        qCDebug(dmxLog) << "dmx: set bass:" << value;
        emit setBass(value);
        break;
    case CMD_TREBLE_LEVEL:
        qCDebug(dmxLog) << "dmx: set treble:" << value;
        emit setTreble(value);
        break;
    case CMD_NO_SIGNAL:
        qCDebug(dmxLog) << "dmx: signal:" << (value != 0);
        emit setDmxSignal(value == 1);
        break;
    case CMD_SERIAL:
        qCDebug(dmxLog) << "dmx: serial";
        break;
    case CMD_RESET:
        qCDebug(dmxLog) << "dmx: reset";
        break;
    case CMD_DMX_ADDR:
        qCDebug(dmxLog) << "dmx: address set";
        m_channelSet = true;
        return false;
    }
    return true;
}
