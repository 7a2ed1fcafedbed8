#pragma once
// A DMX interface board on the far end of the serial line: prints every frame the daemon writes,
// sends the frames typed on standard input and can answer a start-address frame like a board.

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QStringList>

class QSocketNotifier;

class BoardSimulator : public QObject
{
    Q_OBJECT
public:
    BoardSimulator(bool answerAddress, bool stayAfterInput, QObject *parent = nullptr);

    bool open(const QString &path);
    void startReadingInput();

private:
    void onPortReadable();
    void onInputReadable();
    void runNextCommand();
    void send(const QByteArray &bytes);
    void print(const QString &line);

    QSerialPort m_port;
    QSocketNotifier *m_input = nullptr;
    QByteArray m_inputBuffer;
    QByteArray m_pending;
    QStringList m_queue;
    bool m_waiting = false;
    bool m_inputClosed = false;
    bool m_answerAddress;
    bool m_stayAfterInput;
};
