// Byte layouts of the UDP order frame, the discovery and search records and the serial payload.
#include "wire/deviceinfo.h"
#include "wire/discoveryrecord.h"
#include "wire/serialorder.h"
#include "wire/udppacket.h"

#include <QtTest>

namespace {

// Magic "ZRM605", type 4, subType, reserved, length 26, checksum, arg1, arg2, payload; the payload's
// last two bytes are not a whole word, so the checksum does not cover them.
const QByteArray sixBytePayloadFrame
    = QByteArray::fromHex("5a524d363035" "04" "00" "ffff" "1a00" "77bc317b" "0000" "0000" "00bc614e" "aabb");

} // namespace

class TestUdpCodec : public QObject
{
    Q_OBJECT

private slots:
    void frameIsByteExact_data()
    {
        QTest::addColumn<quint8>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("acknowledgement") << quint8(1) << QByteArray()
            << QByteArray::fromHex("5a524d363035" "01" "00" "ffff" "1400" "77789cc9" "0000" "0000");
        QTest::newRow("six-byte payload") << quint8(4) << QByteArray::fromHex("00bc614eaabb") << sixBytePayloadFrame;
    }

    void frameIsByteExact()
    {
        QFETCH(quint8, type);
        QFETCH(QByteArray, payload);
        const QByteArray frame = udp_packet::buildUdpPacketFrame(type, 0, 0, 0, payload);
        QTEST(frame, "expected");
        udp_packet packet;
        QVERIFY(udp_packet::parse(frame, &packet) && packet.header.type == type && packet.payload == payload);
    }

    void checksumCoversEveryWholeWord()
    {
        udp_packet packet;
        for (int offset = 0; offset < 24; ++offset) {
            for (int delta = 1; delta < 256; ++delta) {
                QByteArray corrupt = sixBytePayloadFrame;
                corrupt[offset] = char(corrupt.at(offset) ^ delta);
                QVERIFY2(!udp_packet::parse(corrupt, &packet), qPrintable(QString::number(offset)));
            }
        }
        QVERIFY(udp_packet::parse(sixBytePayloadFrame.left(24) + "xy", &packet));
        // Zero bytes add nothing to the sum: the frame stays good, and `length` (20) decides no payload is taken.
        QVERIFY(udp_packet::parse(udp_packet::buildUdpPacketFrame(3, 0, 0, 0, {}) + QByteArray(12, '\0'), &packet));
        QVERIFY(packet.payload.isEmpty());
    }

    void shortDatagramIsBadAndReadsMissingFieldsAsZero()
    {
        for (int size = 0; size < udp_packet::HeaderSize; ++size) {
            // An exact-size copy, so the sanitizers see any read past its end.
            const QByteArray datagram(sixBytePayloadFrame.constData(), size);
            udp_packet packet;
            QVERIFY(!udp_packet::parse(datagram, &packet));
            QCOMPARE(packet.header.type, quint8(size > 6 ? 4 : 0));
            QCOMPARE(packet.header.length, quint16(size >= 12 ? 26 : 0));
            QVERIFY(packet.payload.isEmpty());
        }
    }

    void discoveryRecordIsByteExact_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QByteArray>("expected"); // 4 zeros, 16-byte name, 8-byte serial, channel, 20 big-endian
        QTest::newRow("short") << "Hall1" << "1234"
            << QByteArray::fromHex("00000000" "48616c6c310000000000000000000000" "3132333400000000" "07" "0014");
        QTest::newRow("over-long") << "ABCDEFGHIJKLMNOPQRST" << "1234567890"
            << QByteArray::fromHex("00000000" "4142434445464748494a4b4c4d4e4f50" "3132333435363738" "07" "0014");
        QTest::newRow("multi-byte letter not split")
            << QString::fromUtf8("a\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81") << "12345678"
            << QByteArray::fromHex("00000000" "61c581c581c581c581c581c581c58100" "3132333435363738" "07" "0014");
    }

    void discoveryRecordIsByteExact()
    {
        QFETCH(QString, name);
        QFETCH(QString, serial);
        QFETCH(QByteArray, expected);
        DiscoveryRecord record;
        record.deviceName = name;
        record.serialNumber = serial;
        record.channel = 7;
        QCOMPARE(record.toBytes().toHex(' '), expected.toHex(' '));
        QVERIFY(DiscoveryRecord::fromBytes(expected, &record));
        QVERIFY(name.startsWith(record.deviceName) && serial.startsWith(record.serialNumber));
        QVERIFY(!DiscoveryRecord::fromBytes(expected.left(30), &record));
    }

    void searchRecordIsByteExact()
    {
        DeviceInfo info;
        info.name = QStringLiteral("Sala, lewa");
        info.serial = 1234;
        info.dhcp = 1;
        info.ip = 0xC0A8006E;
        info.mask = 16;
        info.gateway = 0x0A010001;
        info.configPresent = 1;
        info.channel = 300;
        info.password = QStringLiteral("abc");
        // name + 0, serial, dhcp, ip, mask bits, gateway, storageSize (-1: no stick), configPresent, channel,
        // password + 0, end
        const QByteArray expected = QByteArray::fromHex("53616c612c206c65776100" "d2040000" "01" "6e00a8c0" "10" "0100010a"
                                                        "ffffffffffffffff" "01" "2c01" "61626300" "0000");
        QCOMPARE(info.toBytes().toHex(' '), expected.toHex(' '));
        DeviceInfo readBack;
        QVERIFY(DeviceInfo::fromBytes(expected, &readBack));
        QCOMPARE(readBack.toBytes(), expected);
        QCOMPARE(DeviceInfo::ipv4Text(readBack.ip), QStringLiteral("192.168.0.110"));
        for (int size = 0; size < expected.size(); ++size)
            QVERIFY(!DeviceInfo::fromBytes(expected.left(size), &readBack));
    }

    void serialPayloadIsBigEndian()
    {
        QCOMPARE(SerialOrder::payload(12345678), QByteArray::fromHex("00bc614e"));
        QCOMPARE(SerialOrder::serial(QByteArray::fromHex("ffffffff99")), quint32(0xFFFFFFFF));
        QCOMPARE(SerialOrder::serial(QByteArray::fromHex("00bc61")), quint32(0));
    }
};

QTEST_GUILESS_MAIN(TestUdpCodec)
#include "tst_udpcodec.moc"
