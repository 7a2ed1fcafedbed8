#include "maintenance/filecrypt.h"
#include "maintenance/qaesencryption.h"
#include "tests/support/box.h"

#include <QtTest/QtTest>

Q_DECLARE_METATYPE(QAESEncryption::Aes)
Q_DECLARE_METATYPE(QAESEncryption::Mode)
Q_DECLARE_METATYPE(QAESEncryption::Padding)

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// NIST SP 800-38A, appendix F: the four-block example shared by every mode.
const QByteArray nistKey = hex("2b7e151628aed2a6abf7158809cf4f3c");
const QByteArray nistIv = hex("000102030405060708090a0b0c0d0e0f");
const QByteArray nistPlain = hex("6bc1bee22e409f96e93d7e117393172a"
                                 "ae2d8a571e03ac9c9eb76fac45af8e51"
                                 "30c81c46a35ce411e5fbc1191a0a52ef"
                                 "f69f2445df4f9b17ad2b417be66c3710");
} // namespace

class TestQAESEncryption : public QObject
{
    Q_OBJECT

private slots:
    void fipsAppendixCBlocks_data();
    void fipsAppendixCBlocks();
    void nistExamplesForEveryMode_data();
    void nistExamplesForEveryMode();
    void expandedKeyEndsWithTheLastRoundKey();
    void encodePadsToWholeBlocks_data();
    void encodePadsToWholeBlocks();
    void removePaddingTable_data();
    void removePaddingTable();
    void badInputGivesEmptyResult_data();
    void badInputGivesEmptyResult();
    void fileCryptRoundTripsAndRejectsForeignKey();
};

void TestQAESEncryption::fipsAppendixCBlocks_data()
{
    QTest::addColumn<QAESEncryption::Aes>("level");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("cipher");

    QTest::newRow("C.1 AES-128") << QAESEncryption::AES_128 << hex("000102030405060708090a0b0c0d0e0f")
                                 << hex("69c4e0d86a7b0430d8cdb78070b4c55a");
    QTest::newRow("C.2 AES-192") << QAESEncryption::AES_192
                                 << hex("000102030405060708090a0b0c0d0e0f1011121314151617")
                                 << hex("dda97ca4864cdfe06eaf70a0ec0d7191");
    QTest::newRow("C.3 AES-256") << QAESEncryption::AES_256
                                 << hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")
                                 << hex("8ea2b7ca516745bfeafc49904b496089");
}

void TestQAESEncryption::fipsAppendixCBlocks()
{
    QFETCH(QAESEncryption::Aes, level);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, cipher);
    const QByteArray plain = hex("00112233445566778899aabbccddeeff");

    QCOMPARE(QAESEncryption::Crypt(level, QAESEncryption::ECB, plain, key).toHex(), cipher.toHex());
    QCOMPARE(QAESEncryption::Decrypt(level, QAESEncryption::ECB, cipher, key).toHex(), plain.toHex());
}

void TestQAESEncryption::nistExamplesForEveryMode_data()
{
    QTest::addColumn<QAESEncryption::Mode>("mode");
    QTest::addColumn<QByteArray>("cipher");

    QTest::newRow("F.1.1 ECB") << QAESEncryption::ECB
                               << hex("3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
                                      "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4");
    QTest::newRow("F.2.1 CBC") << QAESEncryption::CBC
                               << hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                      "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    QTest::newRow("F.3.13 CFB128") << QAESEncryption::CFB
                                   << hex("3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
                                          "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6");
    QTest::newRow("F.4.1 OFB") << QAESEncryption::OFB
                               << hex("3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"
                                      "9740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e");
}

void TestQAESEncryption::nistExamplesForEveryMode()
{
    QFETCH(QAESEncryption::Mode, mode);
    QFETCH(QByteArray, cipher);
    QAESEncryption aes(QAESEncryption::AES_128, mode, QAESEncryption::ISO);

    QCOMPARE(aes.encode(nistPlain, nistKey, nistIv).toHex(), cipher.toHex());
    QCOMPARE(aes.decode(cipher, nistKey, nistIv).toHex(), nistPlain.toHex());
}

void TestQAESEncryption::expandedKeyEndsWithTheLastRoundKey()
{
    // FIPS-197 appendix A.1: w[40..43] of the expansion of the AES-128 example key.
    const QByteArray expanded = QAESEncryption::ExpandKey(QAESEncryption::AES_128, QAESEncryption::ECB, nistKey);
    QCOMPARE(expanded.size(), 16 * 11);
    QCOMPARE(expanded.right(16).toHex(), QByteArray("d014f9a8c9ee2589e13f0cc8b6630ca6"));
    // Appendix A.3: AES-256 exercises the extra substitution at word 12 (i mod 8 == 4).
    const QByteArray key256 = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const QByteArray expanded256 = QAESEncryption::ExpandKey(QAESEncryption::AES_256, QAESEncryption::ECB, key256);
    QCOMPARE(expanded256.size(), 16 * 15);
    QCOMPARE(expanded256.mid(48, 4).toHex(), QByteArray("a8b09c1a"));
    QCOMPARE(expanded256.right(4).toHex(), QByteArray("706c631e"));
}

void TestQAESEncryption::encodePadsToWholeBlocks_data()
{
    QTest::addColumn<QAESEncryption::Padding>("padding");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("paddedPlain");

    const QByteArray fifteen(15, 'A');
    const QByteArray sixteen(16, 'A');
    QTest::newRow("zero, 15 bytes") << QAESEncryption::ZERO << fifteen << fifteen + hex("00");
    QTest::newRow("zero, 16 bytes") << QAESEncryption::ZERO << sixteen << sixteen;
    QTest::newRow("pkcs7, 13 bytes") << QAESEncryption::PKCS7 << QByteArray(13, 'A') << QByteArray(13, 'A') + hex("030303");
    QTest::newRow("pkcs7, 16 bytes adds a block") << QAESEncryption::PKCS7 << sixteen << sixteen + QByteArray(16, char(16));
    QTest::newRow("pkcs7, empty") << QAESEncryption::PKCS7 << QByteArray() << QByteArray(16, char(16));
    QTest::newRow("iso, 15 bytes") << QAESEncryption::ISO << fifteen << fifteen + hex("80");
    QTest::newRow("iso, 13 bytes") << QAESEncryption::ISO << QByteArray(13, 'A') << QByteArray(13, 'A') + hex("800000");
    QTest::newRow("iso, 16 bytes") << QAESEncryption::ISO << sixteen << sixteen;
}

void TestQAESEncryption::encodePadsToWholeBlocks()
{
    QFETCH(QAESEncryption::Padding, padding);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, paddedPlain);
    QAESEncryption aes(QAESEncryption::AES_128, QAESEncryption::ECB, padding);

    const QByteArray cipher = aes.encode(input, nistKey);
    QCOMPARE(cipher.size(), paddedPlain.size());
    const QByteArray plain = aes.decode(cipher, nistKey);
    QCOMPARE(plain.toHex(), paddedPlain.toHex());
    QCOMPARE(aes.removePadding(plain).toHex(), input.toHex());
}

void TestQAESEncryption::removePaddingTable_data()
{
    QTest::addColumn<QAESEncryption::Padding>("padding");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("iso cuts at 0x80") << QAESEncryption::ISO << hex("4142800000") << hex("4142");
    QTest::newRow("iso without marker unchanged") << QAESEncryption::ISO << hex("414100") << hex("414100");
    QTest::newRow("iso marker mid-data") << QAESEncryption::ISO << hex("80414200") << hex("80414200");
    QTest::newRow("iso only zeros unchanged") << QAESEncryption::ISO << hex("000000") << hex("000000");
    QTest::newRow("pkcs7 trusts the last byte") << QAESEncryption::PKCS7 << hex("4142434445ff1103") << hex("4142434445");
    QTest::newRow("pkcs7 count beyond length") << QAESEncryption::PKCS7 << hex("414205") << hex("414205");
    QTest::newRow("pkcs7 whole block") << QAESEncryption::PKCS7 << QByteArray(16, char(16)) << QByteArray();
    QTest::newRow("zero strips trailing") << QAESEncryption::ZERO << hex("41004200000000") << hex("410042");
    QTest::newRow("zero only zeros") << QAESEncryption::ZERO << hex("0000") << QByteArray();
    QTest::newRow("empty stays empty") << QAESEncryption::PKCS7 << QByteArray() << QByteArray();
}

void TestQAESEncryption::removePaddingTable()
{
    QFETCH(QAESEncryption::Padding, padding);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, expected);

    QCOMPARE(QAESEncryption::RemovePadding(data, padding).toHex(), expected.toHex());
}

void TestQAESEncryption::badInputGivesEmptyResult_data()
{
    QTest::addColumn<QAESEncryption::Aes>("level");
    QTest::addColumn<QAESEncryption::Mode>("mode");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("iv");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("decoding");

    const QByteArray block(16, 'x');
    QTest::newRow("CBC 15-byte IV") << QAESEncryption::AES_128 << QAESEncryption::CBC << nistKey << nistIv.left(15) << block << false;
    QTest::newRow("OFB without IV") << QAESEncryption::AES_128 << QAESEncryption::OFB << nistKey << QByteArray() << block << false;
    QTest::newRow("CFB decode without IV") << QAESEncryption::AES_128 << QAESEncryption::CFB << nistKey << QByteArray() << block << true;
    QTest::newRow("short key") << QAESEncryption::AES_128 << QAESEncryption::ECB << nistKey.left(15) << QByteArray() << block << false;
    QTest::newRow("128-bit key for AES-256") << QAESEncryption::AES_256 << QAESEncryption::ECB << nistKey << QByteArray() << block << true;
    QTest::newRow("ECB decode of 17 bytes") << QAESEncryption::AES_128 << QAESEncryption::ECB << nistKey << QByteArray() << QByteArray(17, 'x') << true;
    QTest::newRow("ECB decode of 5 bytes") << QAESEncryption::AES_128 << QAESEncryption::ECB << nistKey << QByteArray() << QByteArray(5, 'x') << true;
    QTest::newRow("CBC decode of 31 bytes") << QAESEncryption::AES_128 << QAESEncryption::CBC << nistKey << nistIv << QByteArray(31, 'x') << true;
}

void TestQAESEncryption::badInputGivesEmptyResult()
{
    QFETCH(QAESEncryption::Aes, level);
    QFETCH(QAESEncryption::Mode, mode);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, iv);
    QFETCH(QByteArray, data);
    QFETCH(bool, decoding);
    QAESEncryption aes(level, mode, QAESEncryption::ISO);

    QVERIFY(!data.isEmpty());
    const QByteArray result = decoding ? aes.decode(data, key, iv) : aes.encode(data, key, iv);
    QVERIFY(result.isEmpty());
}

void TestQAESEncryption::fileCryptRoundTripsAndRejectsForeignKey()
{
    FileCrypt crypt;
    const QByteArray json = R"({"network":true,"password":false})";

    const QByteArray cipher = crypt.encrypt(json);
    QCOMPARE(cipher.size(), 48);
    QCOMPARE(QAESEncryption::RemovePadding(crypt.decrypt(cipher), QAESEncryption::ISO), json);

    const QByteArray otherKey = hex("000102030405060708090a0b0c0d0e0f");
    const QByteArray foreign = QAESEncryption::Crypt(QAESEncryption::AES_128, QAESEncryption::ECB, json, otherKey);
    const QByteArray garbled = crypt.decrypt(foreign);
    QCOMPARE(garbled.size(), foreign.size());
    QVERIFY(!garbled.contains(json.left(8)));
}

QUORVANT_TEST_MAIN(TestQAESEncryption)
#include "tst_qaesencryption.moc"
