#pragma once
// The daemon's side of the DMX interface board's serial line: opens and resets the board,
// turns its five-byte frames into transport signals and acknowledges them by echo.

#include <QByteArray>
#include <QObject>
#include <cstdint>

class QSerialPort;

class DmxSerialPort : public QObject
{
    Q_OBJECT
public:
    explicit DmxSerialPort(QObject *parent = nullptr);

    void send(const QByteArray &data);

    bool enabled() const;
    void setEnabled(bool enabled);
    bool channelSet() const;
    void setChannelSet(bool channelSet);

public slots:
    bool open();

signals:
    void communicationInitialized(bool ok);
    void play();
    void stop();
    void pause();
    void setTrack(uint16_t track);
    void setMode(uint16_t mode);
    void setLeftVolume(uint16_t volume);
    void setRightVolume(uint16_t volume);
    void setBass(uint16_t bass);
    void setTreble(uint16_t treble);
    void setDmxSignal(bool isDmx);

private slots:
    void onReadyRead();

private:
    static QString findDevice();
    void configureLine();
    void parseFrame(const QByteArray &frame);
    bool dispatch(uint8_t command, uint16_t value);

    QSerialPort *m_serialPort = nullptr;
    bool m_channelSet = false;
    bool m_enabled = true;
    QByteArray m_readBuffer;
};
