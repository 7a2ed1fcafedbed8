#include "tools/boardsim/boardsimulator.h"

#include "wire/dmxorder.h"
#include "tools/boardsim/boardcommand.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace {
// Lets the last frames leave the pty before the process goes.
constexpr int QuitDelayMs = 200;
}

BoardSimulator::BoardSimulator(bool answerAddress, bool stayAfterInput, QObject *parent)
    : QObject(parent)
    , m_answerAddress(answerAddress)
    , m_stayAfterInput(stayAfterInput)
{
    connect(&m_port, &QSerialPort::readyRead, this, &BoardSimulator::onPortReadable);
}

bool BoardSimulator::open(const QString &path)
{
    m_port.setPortName(path);
    if (!m_port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "boardsim: cannot open %s: %s\n", qPrintable(path),
                     qPrintable(m_port.errorString()));
        return false;
    }
    m_port.setBaudRate(QSerialPort::Baud9600);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setStopBits(QSerialPort::OneStop);
    print(QStringLiteral("board ready on %1").arg(path));
    return true;
}

void BoardSimulator::startReadingInput()
{
    m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_input, &QSocketNotifier::activated, this, &BoardSimulator::onInputReadable);
}

void BoardSimulator::onPortReadable()
{
    for (const QByteArray &frame : DmxFrame::cut(m_pending, m_port.readAll())) {
        const DmxOrder order = DmxOrder::fromBytes(frame);
        QString line = QStringLiteral("daemon -> board: %1").arg(DmxFrame::toHex(frame));
        if (order.hasFrameMarks())
            line += QStringLiteral("  %1 %2").arg(DmxFrame::commandName(order.command())).arg(order.argument());
        else
            line += QStringLiteral("  (not a frame)");
        print(line);
        if (m_answerAddress && order.hasFrameMarks() && order.command() == CMD_DMX_ADDR)
            send(DmxOrder(CMD_DMX_ADDR, order.argument()).toBytes());
    }
}

void BoardSimulator::onInputReadable()
{
    char chunk[512];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof(chunk));
    if (count <= 0) {
        m_input->setEnabled(false);
        m_inputClosed = true;
        if (!m_inputBuffer.isEmpty())
            m_queue << QString::fromUtf8(m_inputBuffer);
        m_inputBuffer.clear();
    } else {
        m_inputBuffer.append(chunk, int(count));
        int newline;
        while ((newline = m_inputBuffer.indexOf('\n')) >= 0) {
            m_queue << QString::fromUtf8(m_inputBuffer.left(newline));
            m_inputBuffer.remove(0, newline + 1);
        }
    }
    runNextCommand();
}

void BoardSimulator::runNextCommand()
{
    while (!m_waiting && !m_queue.isEmpty()) {
        const QString line = m_queue.takeFirst();
        if (line.trimmed().compare(QLatin1String("help"), Qt::CaseInsensitive) == 0) {
            std::fputs(qPrintable(BoardCommand::help()), stdout);
            std::fflush(stdout);
            continue;
        }
        const BoardCommand command = BoardCommand::parse(line);
        switch (command.kind) {
        case BoardCommand::Send:
            send(command.bytes);
            break;
        case BoardCommand::Wait:
            m_waiting = true;
            QTimer::singleShot(command.waitMs, this, [this] {
                m_waiting = false;
                runNextCommand();
            });
            return;
        case BoardCommand::Quit:
            QTimer::singleShot(QuitDelayMs, qApp, &QCoreApplication::quit);
            m_queue.clear();
            m_inputClosed = false;
            return;
        case BoardCommand::Invalid:
            std::fprintf(stderr, "boardsim: %s\n", qPrintable(command.error));
            break;
        case BoardCommand::Empty:
            break;
        }
    }
    if (!m_waiting && m_queue.isEmpty() && m_inputClosed && !m_stayAfterInput)
        QTimer::singleShot(QuitDelayMs, qApp, &QCoreApplication::quit);
}

void BoardSimulator::send(const QByteArray &bytes)
{
    m_port.write(bytes);
    m_port.flush();
    print(QStringLiteral("board -> daemon: %1").arg(DmxFrame::toHex(bytes)));
}

void BoardSimulator::print(const QString &line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    std::fflush(stdout);
}
