// Byte layouts of the UDP order frame, the discovery record, the search reply record, the
// set-serial payload and the transport control datagram.
#include "link/controldatagram.h"
#include "link/deviceinfo.h"
#include "link/discoveryrecord.h"
#include "link/serialorder.h"
#include "link/udppacket.h"
#include "tests/support/box.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestUdpCodec : public QObject
{
    Q_OBJECT

private slots:
    void buildsFrameByteExact_data();
    void buildsFrameByteExact();
    void everyCoveredByteCorruptionMakesFrameBad();
    void uncoveredTailDoesNotAffectChecksum();
    void shortDatagramReadsMissingFieldsAsZeroAndIsBad_data();
    void shortDatagramReadsMissingFieldsAsZeroAndIsBad();
    void lengthFieldDecidesOnlyWhetherPayloadIsTaken_data();
    void lengthFieldDecidesOnlyWhetherPayloadIsTaken();
    void discoveryRecordByteExact_data();
    void discoveryRecordByteExact();
    void discoveryRequestIsFirstByteZero_data();
    void discoveryRequestIsFirstByteZero();
    void deviceInfoByteExactAndReadBack();
    void truncatedDeviceInfoIsRefused();
    void deviceInfoFromSettings_data();
    void deviceInfoFromSettings();
    void maskBitsCountsOnes_data();
    void maskBitsCountsOnes();
    void serialPayloadIsBigEndian_data();
    void serialPayloadIsBigEndian();
};

namespace {

// A good frame rebuilt with another `length` field, checksum recomputed over the result.
QByteArray withLength(QByteArray frame, quint16 length)
{
    frame[10] = char(length & 0xFF);
    frame[11] = char(length >> 8);
    for (int i = 12; i < 16; ++i)
        frame[i] = 0;
    const quint32 check = 0u - udp_packet::wordSum(frame);
    for (int i = 0; i < 4; ++i)
        frame[12 + i] = char(check >> (8 * i));
    return frame;
}

const QByteArray sixBytePayloadFrame = QByteArray::fromHex(
    "5a524d363035" // magic "ZRM605"
    "04"           // type: set serial
    "00"           // subType
    "ffff"         // reserved
    "1a00"         // length 26
    "77bc317b"     // checksum
    "0000"         // arg1
    "0000"         // arg2
    "00bc614e"     // payload, covered by the checksum
    "aabb");       // payload tail, not a whole word: not covered

} // namespace

void TestUdpCodec::buildsFrameByteExact_data()
{
    QTest::addColumn<quint8>("type");
    QTest::addColumn<quint16>("arg1");
    QTest::addColumn<quint16>("arg2");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("acknowledgement") << quint8(1) << quint16(0) << quint16(0) << QByteArray()
        << QByteArray::fromHex("5a524d363035" // magic
                               "01"           // type: acknowledgement
                               "00"           // subType
                               "ffff"         // reserved
                               "1400"         // length 20
                               "77789cc9"     // checksum
                               "0000"         // arg1
                               "0000");       // arg2
    QTest::newRow("search request") << quint8(3) << quint16(0) << quint16(0) << QByteArray()
        << QByteArray::fromHex("5a524d363035" // magic
                               "03"           // type: search
                               "00"           // subType
                               "ffff"         // reserved
                               "1400"         // length 20
                               "77789ac9"     // checksum
                               "0000"         // arg1
                               "0000");       // arg2
    QTest::newRow("arguments little-endian") << quint8(3) << quint16(0x1234) << quint16(0xABCD) << QByteArray()
        << QByteArray::fromHex("5a524d363035" // magic
                               "03"           // type
                               "00"           // subType
                               "ffff"         // reserved
                               "1400"         // length 20
                               "4366cd1d"     // checksum
                               "3412"         // arg1
                               "cdab");       // arg2
    QTest::newRow("six-byte payload") << quint8(4) << quint16(0) << quint16(0)
                                      << QByteArray::fromHex("00bc614eaabb") << sixBytePayloadFrame;
}

void TestUdpCodec::buildsFrameByteExact()
{
    QFETCH(quint8, type);
    QFETCH(quint16, arg1);
    QFETCH(quint16, arg2);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, expected);

    const QByteArray frame = udp_packet::buildUdpPacketFrame(type, 0, arg1, arg2, payload);
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));

    udp_packet packet;
    QVERIFY(udp_packet::parse(frame, &packet));
    QCOMPARE(packet.header.magic, QByteArray("ZRM605"));
    QCOMPARE(packet.header.type, type);
    QCOMPARE(packet.header.length, quint16(expected.size()));
    QCOMPARE(packet.arg1, arg1);
    QCOMPARE(packet.arg2, arg2);
    QCOMPARE(packet.payload, payload);
}

void TestUdpCodec::everyCoveredByteCorruptionMakesFrameBad()
{
    for (int offset = 0; offset < 24; ++offset) {
        for (int delta = 1; delta < 256; ++delta) {
            QByteArray corrupt = sixBytePayloadFrame;
            corrupt[offset] = char(quint8(corrupt.at(offset)) ^ delta);
            udp_packet packet;
            QVERIFY2(!udp_packet::parse(corrupt, &packet),
                     qPrintable(QStringLiteral("offset %1 xor %2").arg(offset).arg(delta)));
        }
    }
}

void TestUdpCodec::uncoveredTailDoesNotAffectChecksum()
{
    QByteArray frame = sixBytePayloadFrame;
    frame[24] = 'x';
    frame[25] = 'y';
    udp_packet packet;
    QVERIFY(udp_packet::parse(frame, &packet));
    QCOMPARE(packet.payload, QByteArray::fromHex("00bc614e") + "xy");
}

void TestUdpCodec::shortDatagramReadsMissingFieldsAsZeroAndIsBad_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<quint8>("type");
    QTest::addColumn<quint16>("length");
    QTest::addColumn<quint16>("arg2");

    for (int size = 0; size < udp_packet::HeaderSize; ++size) {
        QTest::addRow("%d bytes", size) << size << quint8(size > 6 ? 4 : 0)
                                        << quint16(size >= 12 ? 26 : 0) << quint16(0);
    }
}

void TestUdpCodec::shortDatagramReadsMissingFieldsAsZeroAndIsBad()
{
    QFETCH(int, size);
    QFETCH(quint8, type);
    QFETCH(quint16, length);

    // A copy of exactly `size` bytes, so the sanitizers catch a read past its end.
    const QByteArray datagram(sixBytePayloadFrame.constData(), size);
    udp_packet packet;
    packet.header.checksum = 123;
    QVERIFY(!udp_packet::parse(datagram, &packet));
    QCOMPARE(packet.header.type, type);
    QCOMPARE(packet.header.length, length);
    QCOMPARE(packet.header.checksum, size >= 16 ? qint32(0x7b31bc77) : 0);
    QCOMPARE(packet.arg2, quint16(0));
    QVERIFY(packet.payload.isEmpty());
}

void TestUdpCodec::lengthFieldDecidesOnlyWhetherPayloadIsTaken_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("payload");

    const QByteArray ten = "0123456789";
    const QByteArray thirty = udp_packet::buildUdpPacketFrame(3, 0, 0, 0, ten);
    QTest::newRow("says 20, 30 sent") << withLength(thirty, 20) << QByteArray();
    QTest::newRow("says 0, 30 sent") << withLength(thirty, 0) << QByteArray();
    QTest::newRow("says 21, 30 sent") << withLength(thirty, 21) << ten;
    QTest::newRow("says 1000, 30 sent") << withLength(thirty, 1000) << ten;
    QByteArray wrongMagic = thirty;
    wrongMagic.replace(0, 6, "XXXXXX");
    QTest::newRow("wrong magic, good checksum") << withLength(wrongMagic, 30) << ten;
}

void TestUdpCodec::lengthFieldDecidesOnlyWhetherPayloadIsTaken()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, payload);

    udp_packet packet;
    QVERIFY(udp_packet::parse(datagram, &packet));
    QCOMPARE(packet.payload, payload);
}

void TestUdpCodec::discoveryRecordByteExact_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<quint8>("channel");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("nameReadBack");
    QTest::addColumn<QString>("serialReadBack");

    QTest::newRow("short name") << "Hall1" << "12345678" << quint8(7)
        << QByteArray::fromHex("00"                               // 0
                               "0000"                             // 0
                               "00"                               // 0
                               "48616c6c310000000000000000000000" // name "Hall1", zero-padded
                               "3132333435363738"                 // serial "12345678"
                               "07"                               // channel
                               "0014")                            // 20, big-endian
        << "Hall1" << "12345678";
    QTest::newRow("exact sizes") << "ABCDEFGHIJKLMNOP" << "87654321" << quint8(255)
        << QByteArray::fromHex("00" "0000" "00"
                               "4142434445464748494a4b4c4d4e4f50" // name, all 16 bytes
                               "3837363534333231"                 // serial, all 8 bytes
                               "ff"                               // channel
                               "0014")
        << "ABCDEFGHIJKLMNOP" << "87654321";
    QTest::newRow("over-long") << "ABCDEFGHIJKLMNOPQRST" << "1234567890" << quint8(1)
        << QByteArray::fromHex("00" "0000" "00"
                               "4142434445464748494a4b4c4d4e4f50" // name cut to 16 bytes
                               "3132333435363738"                 // serial cut to 8 bytes
                               "01"
                               "0014")
        << "ABCDEFGHIJKLMNOP" << "12345678";
    QTest::newRow("short serial, multi-byte name cut whole")
        << QString::fromUtf8("a\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81")
        << "1234" << quint8(0)
        << QByteArray::fromHex("00" "0000" "00"
                               "61c581c581c581c581c581c581c58100" // "a" + 7 whole letters, 0
                               "3132333400000000"                 // serial "1234", zero-padded
                               "00"
                               "0014")
        << QString::fromUtf8("a\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81\xC5\x81") << "1234";
}

void TestUdpCodec::discoveryRecordByteExact()
{
    QFETCH(QString, name);
    QFETCH(QString, serial);
    QFETCH(quint8, channel);
    QFETCH(QByteArray, expected);
    QFETCH(QString, nameReadBack);
    QFETCH(QString, serialReadBack);

    DiscoveryRecord record;
    record.deviceName = name;
    record.serialNumber = serial;
    record.channel = channel;
    const QByteArray bytes = record.toBytes();
    QCOMPARE(bytes.toHex(' '), expected.toHex(' '));

    DiscoveryRecord readBack;
    QVERIFY(DiscoveryRecord::fromBytes(bytes, &readBack));
    QCOMPARE(readBack.deviceName, nameReadBack);
    QCOMPARE(readBack.serialNumber, serialReadBack);
    QCOMPARE(readBack.channel, channel);
    QVERIFY(!DiscoveryRecord::fromBytes(bytes.left(DiscoveryRecord::Size - 1), &readBack));
}

void TestUdpCodec::discoveryRequestIsFirstByteZero_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<bool>("isRequest");
    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("00") << QByteArray(1, '\0') << true;
    QTest::newRow("00 ff") << QByteArray::fromHex("00ff") << true;
    QTest::newRow("01") << QByteArray::fromHex("01") << false;
    QTest::newRow("ff 00") << QByteArray::fromHex("ff00") << false;
}

void TestUdpCodec::discoveryRequestIsFirstByteZero()
{
    QFETCH(QByteArray, datagram);
    QFETCH(bool, isRequest);
    QCOMPARE(DiscoveryRecord::isRequest(datagram), isRequest);
    QVERIFY(DiscoveryRecord::isRequest(DiscoveryRecord::request()));
}

void TestUdpCodec::deviceInfoByteExactAndReadBack()
{
    DeviceInfo info;
    info.name = QStringLiteral("Hall");
    info.serial = 12345678;
    info.dhcp = 0;
    info.ip = DeviceInfo::ipv4Number(QStringLiteral("192.168.0.110"));
    info.mask = DeviceInfo::maskBits(QStringLiteral("255.255.255.0"));
    info.gateway = DeviceInfo::ipv4Number(QStringLiteral("192.168.0.1"));
    info.storageSize = 8000000000;
    info.configPresent = 1;
    info.channel = 300;
    info.password = QStringLiteral("pw");

    const QByteArray expected = QByteArray::fromHex("48616c6c00"       // name "Hall" + 0
                                                    "4e61bc00"         // serial 12345678
                                                    "00"               // dhcp
                                                    "6e00a8c0"         // ip 192.168.0.110
                                                    "18"               // mask 24
                                                    "0100a8c0"         // gateway 192.168.0.1
                                                    "0050d6dc01000000" // storageSize 8000000000
                                                    "01"               // configPresent
                                                    "2c01"             // channel 300
                                                    "707700"           // password "pw" + 0
                                                    "0000");           // end
    QCOMPARE(info.toBytes().toHex(' '), expected.toHex(' '));

    DeviceInfo readBack;
    QVERIFY(DeviceInfo::fromBytes(expected, &readBack));
    QCOMPARE(readBack.toBytes(), expected);
    QCOMPARE(DeviceInfo::ipv4Text(readBack.ip), QStringLiteral("192.168.0.110"));
}

void TestUdpCodec::truncatedDeviceInfoIsRefused()
{
    DeviceInfo info;
    info.password = QStringLiteral("secret");
    const QByteArray bytes = info.toBytes();
    DeviceInfo readBack;
    for (int size = 0; size < bytes.size(); ++size)
        QVERIFY2(!DeviceInfo::fromBytes(bytes.left(size), &readBack), qPrintable(QString::number(size)));
    QVERIFY(DeviceInfo::fromBytes(bytes, &readBack));
    QCOMPARE(readBack.password, info.password);
}

void TestUdpCodec::deviceInfoFromSettings_data()
{
    QTest::addColumn<QString>("stickConfig"); // empty: no file
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no stick file, empty settings") << QString() << QString()
        << QByteArray::fromHex("5a5236303500" "00000000" "00" "00000000" "00" "00000000"
                               "ffffffffffffffff" // storageSize as handed in
                               "00" "0000" "00" "0000");
    QTest::newRow("stick file without keys") << "[General]\nloop=1\n" << "SN=abc\nNET_MODE=DHCP\n"
        << QByteArray::fromHex("00"       // name: key missing, empty
                               "00000000" // serial not a number
                               "00"       // "DHCP" is not "dhcp"
                               "00000000" "00" "00000000" "ffffffffffffffff"
                               "01"       // configPresent
                               "0100"     // channel default 1
                               "00"       // no password
                               "0000");
    QTest::newRow("everything set") << "devname=Sala, lewa\npassword=abc\nchannel=12\n"
        << "SN=00001234\nNET_MODE=dhcp\nNET_IP=10.1.2.3\nNET_MASK=255.255.0.0\nNET_ROUTE=10.1.0.1\n"
        << QByteArray::fromHex("53616c612c206c65776100" // "Sala, lewa"
                               "d2040000"               // serial 1234
                               "01"                     // dhcp
                               "0302010a"               // ip
                               "10"                     // mask 16
                               "0100010a"               // gateway
                               "ffffffffffffffff" "01" "0c00"
                               "61626300"               // password
                               "0000");
}

void TestUdpCodec::deviceInfoFromSettings()
{
    QFETCH(QString, stickConfig);
    QFETCH(QString, settings);
    QFETCH(QByteArray, expected);

    QTemporaryDir dir;
    const QString stickPath = dir.filePath(QStringLiteral("config.ini"));
    const QString settingsPath = dir.filePath(QStringLiteral("settings.cfg"));
    auto write = [](const QString &path, const QString &text) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    };
    if (!stickConfig.isEmpty())
        write(stickPath, stickConfig);
    write(settingsPath, settings);

    const DeviceInfo info = DeviceInfo::fromSettings(settingsPath, stickPath, -1);
    QCOMPARE(info.toBytes().toHex(' '), expected.toHex(' '));
}

void TestUdpCodec::maskBitsCountsOnes_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("bits");
    QTest::newRow("/24") << "255.255.255.0" << 24;
    QTest::newRow("/32") << "255.255.255.255" << 32;
    QTest::newRow("/0") << "0.0.0.0" << 0;
    QTest::newRow("/20") << "255.255.240.0" << 20;
    QTest::newRow("missing") << "" << 0;
    QTest::newRow("not an address") << "mask" << 0;
    QTest::newRow("IPv6 is not IPv4") << "ffff::" << 0;
}

void TestUdpCodec::maskBitsCountsOnes()
{
    QFETCH(QString, mask);
    QFETCH(int, bits);
    QCOMPARE(int(DeviceInfo::maskBits(mask)), bits);
}

void TestUdpCodec::serialPayloadIsBigEndian_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<quint32>("serial");
    QTest::newRow("12345678") << QByteArray::fromHex("00bc614e") << quint32(12345678);
    QTest::newRow("top bit set") << QByteArray::fromHex("ffffffff") << quint32(0xFFFFFFFF);
    QTest::newRow("extra bytes ignored") << QByteArray::fromHex("00bc614e99") << quint32(12345678);
    QTest::newRow("3 bytes") << QByteArray::fromHex("00bc61") << quint32(0);
    QTest::newRow("empty") << QByteArray() << quint32(0);
}

void TestUdpCodec::serialPayloadIsBigEndian()
{
    QFETCH(QByteArray, payload);
    QFETCH(quint32, serial);
    QCOMPARE(SerialOrder::serial(payload), serial);
    if (payload.size() == 4)
        QCOMPARE(SerialOrder::payload(serial), payload);
}

QUORVANT_TEST_MAIN(TestUdpCodec)
#include "tst_udpcodec.moc"
