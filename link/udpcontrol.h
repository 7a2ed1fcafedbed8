// UDP transport control: datagrams "zr605" + four control levels drive the player like the
// DMX board does; every datagram is echoed (within a budget) and only changed commands are emitted.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>

class QUdpSocket;

class UdpControl : public QObject
{
    Q_OBJECT
public:
    explicit UdpControl(QObject *parent = nullptr);

    // Echoes sent per second at most. A controller sends a few dozen datagrams a second; a datagram
    // whose sender is this box's own control port, or another box's, is echoed back and forth
    // without end, and the first echo refused ends that loop.
    static constexpr int maxEchoesPerSecond = 250;

    quint16 port() const;
    void setPort(const quint16 &port);
    void send(const QByteArray &data, const QHostAddress &address, quint16 port);

    static int calculateState(const QByteArray &payload);
    static int calculateTrack(const QByteArray &payload);
    static int calculateMode(const QByteArray &payload);
    static int calculateVolume(const QByteArray &payload);

    void checkNetworkControl(const QByteArray &payload);

signals:
    void play();
    void stop();
    void pause();
    void setTrack(uint16_t track);
    void setMode(uint16_t mode);
    void setLeftVolume(uint16_t volume);
    void setDmxSignal(bool isDmx);

private slots:
    void onReadyRead();

private:
    bool echoAllowed();
    void emitState(int state);
    void emitLevel(int level, int value);

    QUdpSocket *m_socket;
    QByteArray m_lastPayload;
    quint16 m_port = 0;
    QElapsedTimer m_echoWindow;
    int m_echoesInWindow = 0;
};
