#include "wire/qaesencryption.h"

#include <QtTest/QtTest>

using Aes = QAESEncryption;
Q_DECLARE_METATYPE(QAESEncryption::Padding)

// One cipher row: `out` is what `in` encodes to.
struct Case {
    Aes::Aes level;
    Aes::Mode mode;
    QByteArray key, iv, in, out;
};
Q_DECLARE_METATYPE(Case)

namespace {
QByteArray hex(const char *text) { return QByteArray::fromHex(text); }
// NIST SP 800-38A appendix F: key, IV and the four plain blocks every mode example uses.
const QByteArray nistKey = hex("2b7e151628aed2a6abf7158809cf4f3c");
const QByteArray nistIv = hex("000102030405060708090a0b0c0d0e0f");
const QByteArray nistPlain = hex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                                 "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
const QByteArray fipsPlain = hex("00112233445566778899aabbccddeeff");
const QByteArray fipsKey = hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
} // namespace

class TestQAESEncryption : public QObject
{
    Q_OBJECT
private slots:
    void knownAnswers_data()
    {
        QTest::addColumn<Case>("c");
        // FIPS-197 appendix C; the AES-256 row also covers the extra key-schedule substitution.
        QTest::newRow("C.1 AES-128") << Case{ Aes::AES_128, Aes::ECB, fipsKey.left(16), {}, fipsPlain, hex("69c4e0d86a7b0430d8cdb78070b4c55a") };
        QTest::newRow("C.2 AES-192") << Case{ Aes::AES_192, Aes::ECB, fipsKey.left(24), {}, fipsPlain, hex("dda97ca4864cdfe06eaf70a0ec0d7191") };
        QTest::newRow("C.3 AES-256") << Case{ Aes::AES_256, Aes::ECB, fipsKey, {}, fipsPlain, hex("8ea2b7ca516745bfeafc49904b496089") };
        QTest::newRow("F.1.1 ECB") << Case{ Aes::AES_128, Aes::ECB, nistKey, {}, nistPlain,
                                            hex("3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
                                                "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4") };
        QTest::newRow("F.2.1 CBC") << Case{ Aes::AES_128, Aes::CBC, nistKey, nistIv, nistPlain,
                                            hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                                                "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7") };
        QTest::newRow("F.3.13 CFB128") << Case{ Aes::AES_128, Aes::CFB, nistKey, nistIv, nistPlain,
                                                hex("3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
                                                    "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6") };
        QTest::newRow("F.4.1 OFB") << Case{ Aes::AES_128, Aes::OFB, nistKey, nistIv, nistPlain,
                                            hex("3b3fd92eb72dad20333449f8e83cfb4a7789508d16918f03f53c52dac54ed825"
                                                "9740051e9c5fecf64344f7a82260edcc304c6528f659c77866a510d9c1d6ae5e") };
    }

    void knownAnswers()
    {
        QFETCH(Case, c);
        QAESEncryption aes(c.level, c.mode, Aes::ISO);
        QCOMPARE(aes.encode(c.in, c.key, c.iv).toHex(), c.out.toHex());
        QCOMPARE(aes.decode(c.out, c.key, c.iv).toHex(), c.in.toHex());
    }

    void padding_data()
    {
        QTest::addColumn<Aes::Padding>("padding");
        QTest::addColumn<QByteArray>("padded");
        QTest::addColumn<QByteArray>("stripped");
        const QByteArray a13(13, 'A'), a15(15, 'A'), a16(16, 'A');
        QTest::newRow("zero, 15 bytes") << Aes::ZERO << a15 + hex("00") << a15;
        QTest::newRow("pkcs7, 13 bytes") << Aes::PKCS7 << a13 + hex("030303") << a13;
        QTest::newRow("pkcs7, 16 bytes: a whole block") << Aes::PKCS7 << a16 + QByteArray(16, char(16)) << a16;
        QTest::newRow("iso, 13 bytes") << Aes::ISO << a13 + hex("800000") << a13;
        QTest::newRow("iso, 16 bytes") << Aes::ISO << a16 << a16;
        QTest::newRow("iso without 0x80 unchanged") << Aes::ISO << hex("414100") << hex("414100");
        QTest::newRow("pkcs7 trusts the last byte") << Aes::PKCS7 << hex("4142434445ff1103") << hex("4142434445");
        QTest::newRow("pkcs7 count beyond length") << Aes::PKCS7 << hex("414205") << hex("414205");
        QTest::newRow("zero strips only the tail") << Aes::ZERO << hex("41004200000000") << hex("410042");
    }

    void padding()
    {
        QFETCH(Aes::Padding, padding);
        QFETCH(QByteArray, padded);
        QFETCH(QByteArray, stripped);
        QCOMPARE(QAESEncryption::RemovePadding(padded, padding).toHex(), stripped.toHex());
        if (padded.size() % 16 == 0) { // whole blocks are what encode makes of the stripped bytes
            QAESEncryption aes(Aes::AES_128, Aes::ECB, padding);
            QCOMPARE(aes.decode(aes.encode(stripped, nistKey), nistKey).toHex(), padded.toHex());
        }
    }

    // Refused with an empty result instead of reading past the end of the key, IV or text.
    void badInputGivesEmptyResult_data()
    {
        QTest::addColumn<Case>("c");
        QTest::newRow("CBC 15-byte IV") << Case{ Aes::AES_128, Aes::CBC, nistKey, nistIv.left(15), nistPlain, {} };
        QTest::newRow("128-bit key for AES-256") << Case{ Aes::AES_256, Aes::ECB, nistKey, {}, nistPlain, {} };
        QTest::newRow("CBC, 17 bytes") << Case{ Aes::AES_128, Aes::CBC, nistKey, nistIv, QByteArray(17, 'x'), {} };
    }

    void badInputGivesEmptyResult()
    {
        QFETCH(Case, c);
        QAESEncryption aes(c.level, c.mode, Aes::ISO);
        QCOMPARE(aes.decode(c.in, c.key, c.iv), QByteArray());
        if (c.in.size() % 16 == 0) // encode pads anything else to whole blocks
            QCOMPARE(aes.encode(c.in, c.key, c.iv), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestQAESEncryption)
#include "tst_qaesencryption.moc"
