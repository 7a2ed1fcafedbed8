#pragma once

// AES block cipher (128/192/256-bit keys) with the ECB, CBC, CFB and OFB modes and three paddings;
// the file cipher uses it to read and write the stick's reset file.

#include <QByteArray>
#include <QObject>
#include <cstdint>

class QAESEncryption : public QObject
{
    Q_OBJECT
public:
    enum Aes { AES_128 = 0, AES_192 = 1, AES_256 = 2 };
    enum Mode { ECB = 0, CBC = 1, CFB = 2, OFB = 3 };
    enum Padding { ZERO = 0, PKCS7 = 1, ISO = 2 };

    static QByteArray Crypt(Aes level, Mode mode, const QByteArray &rawText, const QByteArray &key,
                            const QByteArray &iv = QByteArray(), Padding padding = ISO);
    static QByteArray Decrypt(Aes level, Mode mode, const QByteArray &rawText, const QByteArray &key,
                              const QByteArray &iv = QByteArray(), Padding padding = ISO);
    static QByteArray ExpandKey(Aes level, Mode mode, const QByteArray &key);
    static QByteArray RemovePadding(const QByteArray &rawText, Padding padding = ISO);

    QAESEncryption(Aes level, Mode mode, Padding padding = ISO);

    // Both return an empty array for a key of the wrong length, a missing or short IV in the
    // chained modes, and (decode) ECB/CBC input that is not a whole number of blocks.
    QByteArray encode(const QByteArray &rawText, const QByteArray &key, const QByteArray &iv = QByteArray());
    QByteArray decode(const QByteArray &rawText, const QByteArray &key, const QByteArray &iv = QByteArray());
    QByteArray removePadding(const QByteArray &rawText) const;
    QByteArray expandKey(const QByteArray &key) const;

    int keyLength() const { return m_keyLength; }

private:
    bool acceptsKeyAndIv(const QByteArray &key, const QByteArray &iv) const;
    QByteArray padded(const QByteArray &rawText) const;

    QByteArray cipherBlock(const QByteArray &expandedKey, const char *in);
    QByteArray invCipherBlock(const QByteArray &expandedKey, const char *in);
    QByteArray keyStream(const QByteArray &expandedKey, const QByteArray &iv, int length);

    void addRoundKey(const QByteArray &expandedKey, int round);
    void subBytes();
    void invSubBytes();
    void shiftRows();
    void invShiftRows();
    void mixColumns();
    void invMixColumns();

    int m_blockWords = 4;
    int m_blockLength = 16;
    Aes m_variant;
    Mode m_mode;
    int m_keyWords;
    int m_keyLength;
    int m_rounds;
    Padding m_padding;
    uint8_t *m_state = nullptr;
};

