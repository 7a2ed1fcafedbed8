// Discovery socket on UDP port 50002: a datagram whose first byte is 0 asks the box to
// announce itself; the announcement goes back to the requester's port 50003.
#pragma once

#include <QByteArray>
#include <QObject>

class QHostAddress;
class QUdpSocket;

class UdpSocket : public QObject
{
    Q_OBJECT
public:
    explicit UdpSocket(QObject *parent = nullptr);
    ~UdpSocket() override;

    void sendPackage(const QByteArray &data);

signals:
    void deviceDiscovered();

private slots:
    void onReadyRead();

private:
    QUdpSocket *m_socket;
    QHostAddress *m_senderAddress;
};
