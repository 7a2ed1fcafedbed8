#include "wire/qaesencryption.h"

#include <algorithm>

namespace {

// FIPS-197 substitution table and its inverse.
constexpr uint8_t sbox[256] = {
    0x63, 0x7c, 0x77, 0x7b, 0xf2, 0x6b, 0x6f, 0xc5, 0x30, 0x01, 0x67, 0x2b, 0xfe, 0xd7, 0xab, 0x76,
    0xca, 0x82, 0xc9, 0x7d, 0xfa, 0x59, 0x47, 0xf0, 0xad, 0xd4, 0xa2, 0xaf, 0x9c, 0xa4, 0x72, 0xc0,
    0xb7, 0xfd, 0x93, 0x26, 0x36, 0x3f, 0xf7, 0xcc, 0x34, 0xa5, 0xe5, 0xf1, 0x71, 0xd8, 0x31, 0x15,
    0x04, 0xc7, 0x23, 0xc3, 0x18, 0x96, 0x05, 0x9a, 0x07, 0x12, 0x80, 0xe2, 0xeb, 0x27, 0xb2, 0x75,
    0x09, 0x83, 0x2c, 0x1a, 0x1b, 0x6e, 0x5a, 0xa0, 0x52, 0x3b, 0xd6, 0xb3, 0x29, 0xe3, 0x2f, 0x84,
    0x53, 0xd1, 0x00, 0xed, 0x20, 0xfc, 0xb1, 0x5b, 0x6a, 0xcb, 0xbe, 0x39, 0x4a, 0x4c, 0x58, 0xcf,
    0xd0, 0xef, 0xaa, 0xfb, 0x43, 0x4d, 0x33, 0x85, 0x45, 0xf9, 0x02, 0x7f, 0x50, 0x3c, 0x9f, 0xa8,
    0x51, 0xa3, 0x40, 0x8f, 0x92, 0x9d, 0x38, 0xf5, 0xbc, 0xb6, 0xda, 0x21, 0x10, 0xff, 0xf3, 0xd2,
    0xcd, 0x0c, 0x13, 0xec, 0x5f, 0x97, 0x44, 0x17, 0xc4, 0xa7, 0x7e, 0x3d, 0x64, 0x5d, 0x19, 0x73,
    0x60, 0x81, 0x4f, 0xdc, 0x22, 0x2a, 0x90, 0x88, 0x46, 0xee, 0xb8, 0x14, 0xde, 0x5e, 0x0b, 0xdb,
    0xe0, 0x32, 0x3a, 0x0a, 0x49, 0x06, 0x24, 0x5c, 0xc2, 0xd3, 0xac, 0x62, 0x91, 0x95, 0xe4, 0x79,
    0xe7, 0xc8, 0x37, 0x6d, 0x8d, 0xd5, 0x4e, 0xa9, 0x6c, 0x56, 0xf4, 0xea, 0x65, 0x7a, 0xae, 0x08,
    0xba, 0x78, 0x25, 0x2e, 0x1c, 0xa6, 0xb4, 0xc6, 0xe8, 0xdd, 0x74, 0x1f, 0x4b, 0xbd, 0x8b, 0x8a,
    0x70, 0x3e, 0xb5, 0x66, 0x48, 0x03, 0xf6, 0x0e, 0x61, 0x35, 0x57, 0xb9, 0x86, 0xc1, 0x1d, 0x9e,
    0xe1, 0xf8, 0x98, 0x11, 0x69, 0xd9, 0x8e, 0x94, 0x9b, 0x1e, 0x87, 0xe9, 0xce, 0x55, 0x28, 0xdf,
    0x8c, 0xa1, 0x89, 0x0d, 0xbf, 0xe6, 0x42, 0x68, 0x41, 0x99, 0x2d, 0x0f, 0xb0, 0x54, 0xbb, 0x16,
};

constexpr uint8_t rsbox[256] = {
    0x52, 0x09, 0x6a, 0xd5, 0x30, 0x36, 0xa5, 0x38, 0xbf, 0x40, 0xa3, 0x9e, 0x81, 0xf3, 0xd7, 0xfb,
    0x7c, 0xe3, 0x39, 0x82, 0x9b, 0x2f, 0xff, 0x87, 0x34, 0x8e, 0x43, 0x44, 0xc4, 0xde, 0xe9, 0xcb,
    0x54, 0x7b, 0x94, 0x32, 0xa6, 0xc2, 0x23, 0x3d, 0xee, 0x4c, 0x95, 0x0b, 0x42, 0xfa, 0xc3, 0x4e,
    0x08, 0x2e, 0xa1, 0x66, 0x28, 0xd9, 0x24, 0xb2, 0x76, 0x5b, 0xa2, 0x49, 0x6d, 0x8b, 0xd1, 0x25,
    0x72, 0xf8, 0xf6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xd4, 0xa4, 0x5c, 0xcc, 0x5d, 0x65, 0xb6, 0x92,
    0x6c, 0x70, 0x48, 0x50, 0xfd, 0xed, 0xb9, 0xda, 0x5e, 0x15, 0x46, 0x57, 0xa7, 0x8d, 0x9d, 0x84,
    0x90, 0xd8, 0xab, 0x00, 0x8c, 0xbc, 0xd3, 0x0a, 0xf7, 0xe4, 0x58, 0x05, 0xb8, 0xb3, 0x45, 0x06,
    0xd0, 0x2c, 0x1e, 0x8f, 0xca, 0x3f, 0x0f, 0x02, 0xc1, 0xaf, 0xbd, 0x03, 0x01, 0x13, 0x8a, 0x6b,
    0x3a, 0x91, 0x11, 0x41, 0x4f, 0x67, 0xdc, 0xea, 0x97, 0xf2, 0xcf, 0xce, 0xf0, 0xb4, 0xe6, 0x73,
    0x96, 0xac, 0x74, 0x22, 0xe7, 0xad, 0x35, 0x85, 0xe2, 0xf9, 0x37, 0xe8, 0x1c, 0x75, 0xdf, 0x6e,
    0x47, 0xf1, 0x1a, 0x71, 0x1d, 0x29, 0xc5, 0x89, 0x6f, 0xb7, 0x62, 0x0e, 0xaa, 0x18, 0xbe, 0x1b,
    0xfc, 0x56, 0x3e, 0x4b, 0xc6, 0xd2, 0x79, 0x20, 0x9a, 0xdb, 0xc0, 0xfe, 0x78, 0xcd, 0x5a, 0xf4,
    0x1f, 0xdd, 0xa8, 0x33, 0x88, 0x07, 0xc7, 0x31, 0xb1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xec, 0x5f,
    0x60, 0x51, 0x7f, 0xa9, 0x19, 0xb5, 0x4a, 0x0d, 0x2d, 0xe5, 0x7a, 0x9f, 0x93, 0xc9, 0x9c, 0xef,
    0xa0, 0xe0, 0x3b, 0x4d, 0xae, 0x2a, 0xf5, 0xb0, 0xc8, 0xeb, 0xbb, 0x3c, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2b, 0x04, 0x7e, 0xba, 0x77, 0xd6, 0x26, 0xe1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0c, 0x7d,
};

// Round constants; the key schedule starts at index 1.
constexpr uint8_t rcon[14] = {
    0x8d, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1b, 0x36, 0x6c, 0xd8, 0xab,
};

uint8_t xtime(uint8_t x)
{
    return uint8_t((x << 1) ^ ((x & 0x80) ? 0x1b : 0x00));
}

// Multiplication in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
uint8_t gmul(uint8_t a, uint8_t b)
{
    uint8_t product = 0;
    while (b) {
        if (b & 1)
            product ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return product;
}

QByteArray xorBytes(const QByteArray &a, const QByteArray &b)
{
    const int length = qMin(a.size(), b.size());
    QByteArray out(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        out[i] = char(a.at(i) ^ b.at(i));
    return out;
}

} // namespace

QByteArray QAESEncryption::Crypt(Aes level, Mode mode, const QByteArray &rawText, const QByteArray &key,
                                 const QByteArray &iv, Padding padding)
{
    return QAESEncryption(level, mode, padding).encode(rawText, key, iv);
}

QByteArray QAESEncryption::Decrypt(Aes level, Mode mode, const QByteArray &rawText, const QByteArray &key,
                                   const QByteArray &iv, Padding padding)
{
    return QAESEncryption(level, mode, padding).decode(rawText, key, iv);
}

QByteArray QAESEncryption::ExpandKey(Aes level, Mode mode, const QByteArray &key)
{
    return QAESEncryption(level, mode).expandKey(key);
}

QByteArray QAESEncryption::RemovePadding(const QByteArray &rawText, Padding padding)
{
    if (rawText.isEmpty())
        return rawText;

    switch (padding) {
    case PKCS7: {
        const int count = uint8_t(rawText.back());
        return count > rawText.size() ? rawText : rawText.left(rawText.size() - count);
    }
    case ISO: {
        int last = rawText.size() - 1;
        while (last >= 0 && rawText.at(last) == 0)
            --last;
        if (last >= 0 && uint8_t(rawText.at(last)) == 0x80)
            return rawText.left(last);
        return rawText;
    }
    case ZERO: {
        int length = rawText.size();
        while (length > 0 && rawText.at(length - 1) == 0)
            --length;
        return rawText.left(length);
    }
    }
    return rawText;
}

QAESEncryption::QAESEncryption(Aes level, Mode mode, Padding padding)
    : m_variant(level), m_mode(mode), m_padding(padding)
{
    switch (level) {
    case AES_192:
        m_keyWords = 6;
        m_rounds = 12;
        break;
    case AES_256:
        m_keyWords = 8;
        m_rounds = 14;
        break;
    case AES_128:
    default:
        m_keyWords = 4;
        m_rounds = 10;
        break;
    }
    m_keyLength = m_keyWords * 4;
}

QByteArray QAESEncryption::encode(const QByteArray &rawText, const QByteArray &key, const QByteArray &iv)
{
    if (!acceptsKeyAndIv(key, iv))
        return QByteArray();

    const QByteArray roundKeys = expandKey(key);
    const QByteArray text = padded(rawText);
    QByteArray out;
    out.reserve(text.size());

    switch (m_mode) {
    case ECB:
        for (int i = 0; i < text.size(); i += m_blockLength)
            out += cipherBlock(roundKeys, text.constData() + i);
        break;
    case CBC: {
        QByteArray previous = iv;
        for (int i = 0; i < text.size(); i += m_blockLength) {
            previous = cipherBlock(roundKeys, xorBytes(text.mid(i, m_blockLength), previous).constData());
            out += previous;
        }
        break;
    }
    case CFB: {
        QByteArray previous = iv;
        for (int i = 0; i < text.size(); i += m_blockLength) {
            previous = xorBytes(text.mid(i, m_blockLength), cipherBlock(roundKeys, previous.constData()));
            out += previous;
        }
        break;
    }
    case OFB:
        out = xorBytes(text, keyStream(roundKeys, iv, text.size()));
        break;
    default:
        return QByteArray();
    }
    return out;
}

QByteArray QAESEncryption::decode(const QByteArray &rawText, const QByteArray &key, const QByteArray &iv)
{
    if (!acceptsKeyAndIv(key, iv))
        return QByteArray();
    // The block modes only ever produce whole blocks; anything else is damaged input.
    if ((m_mode == ECB || m_mode == CBC) && rawText.size() % m_blockLength != 0)
        return QByteArray();

    const QByteArray roundKeys = expandKey(key);
    QByteArray out;
    out.reserve(rawText.size());

    switch (m_mode) {
    case ECB:
        for (int i = 0; i < rawText.size(); i += m_blockLength)
            out += invCipherBlock(roundKeys, rawText.constData() + i);
        break;
    case CBC: {
        QByteArray previous = iv;
        for (int i = 0; i < rawText.size(); i += m_blockLength) {
            const QByteArray block = rawText.mid(i, m_blockLength);
            out += xorBytes(invCipherBlock(roundKeys, block.constData()), previous);
            previous = block;
        }
        break;
    }
    case CFB: {
        // Only the last block may be short, so "previous" is always a whole block.
        QByteArray previous = iv;
        for (int i = 0; i < rawText.size(); i += m_blockLength) {
            const QByteArray block = rawText.mid(i, m_blockLength);
            out += xorBytes(block, cipherBlock(roundKeys, previous.constData()));
            previous = block;
        }
        break;
    }
    case OFB:
        out = xorBytes(rawText, keyStream(roundKeys, iv, rawText.size()));
        break;
    default:
        return QByteArray();
    }
    return out;
}

QByteArray QAESEncryption::removePadding(const QByteArray &rawText) const
{
    return RemovePadding(rawText, m_padding);
}

QByteArray QAESEncryption::expandKey(const QByteArray &key) const
{
    if (key.size() != m_keyLength)
        return QByteArray();

    const int totalWords = m_blockWords * (m_rounds + 1);
    QByteArray words(totalWords * 4, '\0');
    auto *w = reinterpret_cast<uint8_t *>(words.data());
    std::copy(key.constBegin(), key.constEnd(), words.begin());

    for (int i = m_keyWords; i < totalWords; ++i) {
        uint8_t temp[4] = { w[4 * (i - 1)], w[4 * (i - 1) + 1], w[4 * (i - 1) + 2], w[4 * (i - 1) + 3] };
        if (i % m_keyWords == 0) {
            const uint8_t first = temp[0];
            temp[0] = uint8_t(sbox[temp[1]] ^ rcon[i / m_keyWords]);
            temp[1] = sbox[temp[2]];
            temp[2] = sbox[temp[3]];
            temp[3] = sbox[first];
        } else if (m_keyWords > 6 && i % m_keyWords == 4) {
            for (uint8_t &byte : temp)
                byte = sbox[byte];
        }
        for (int j = 0; j < 4; ++j)
            w[4 * i + j] = uint8_t(w[4 * (i - m_keyWords) + j] ^ temp[j]);
    }
    return words;
}

bool QAESEncryption::acceptsKeyAndIv(const QByteArray &key, const QByteArray &iv) const
{
    if (key.size() != m_keyLength)
        return false;
    return m_mode == ECB || iv.size() == m_blockLength;
}

QByteArray QAESEncryption::padded(const QByteArray &rawText) const
{
    const int fill = (m_blockLength - rawText.size() % m_blockLength) % m_blockLength;
    switch (m_padding) {
    case ZERO:
        return rawText + QByteArray(fill, '\0');
    case PKCS7: {
        const int count = fill == 0 ? m_blockLength : fill;
        return rawText + QByteArray(count, char(count));
    }
    case ISO:
        if (fill == 0)
            return rawText;
        return rawText + char(0x80) + QByteArray(fill - 1, '\0');
    }
    return rawText;
}

QByteArray QAESEncryption::cipherBlock(const QByteArray &expandedKey, const char *in)
{
    QByteArray block(in, m_blockLength);
    m_state = reinterpret_cast<uint8_t *>(block.data());

    addRoundKey(expandedKey, 0);
    for (int round = 1; round < m_rounds; ++round) {
        subBytes();
        shiftRows();
        mixColumns();
        addRoundKey(expandedKey, round);
    }
    subBytes();
    shiftRows();
    addRoundKey(expandedKey, m_rounds);

    m_state = nullptr;
    return block;
}

QByteArray QAESEncryption::invCipherBlock(const QByteArray &expandedKey, const char *in)
{
    QByteArray block(in, m_blockLength);
    m_state = reinterpret_cast<uint8_t *>(block.data());

    addRoundKey(expandedKey, m_rounds);
    for (int round = m_rounds - 1; round > 0; --round) {
        invShiftRows();
        invSubBytes();
        addRoundKey(expandedKey, round);
        invMixColumns();
    }
    invShiftRows();
    invSubBytes();
    addRoundKey(expandedKey, 0);

    m_state = nullptr;
    return block;
}

QByteArray QAESEncryption::keyStream(const QByteArray &expandedKey, const QByteArray &iv, int length)
{
    QByteArray stream;
    stream.reserve(length + m_blockLength);
    QByteArray block = iv;
    while (stream.size() < length) {
        block = cipherBlock(expandedKey, block.constData());
        stream += block;
    }
    return stream;
}

// The state holds the block column by column: byte (row + 4 * column).
void QAESEncryption::addRoundKey(const QByteArray &expandedKey, int round)
{
    const char *roundKey = expandedKey.constData() + round * m_blockLength;
    for (int i = 0; i < m_blockLength; ++i)
        m_state[i] ^= uint8_t(roundKey[i]);
}

void QAESEncryption::subBytes()
{
    for (int i = 0; i < m_blockLength; ++i)
        m_state[i] = sbox[m_state[i]];
}

void QAESEncryption::invSubBytes()
{
    for (int i = 0; i < m_blockLength; ++i)
        m_state[i] = rsbox[m_state[i]];
}

void QAESEncryption::shiftRows()
{
    uint8_t copy[16];
    std::copy(m_state, m_state + 16, copy);
    for (int row = 1; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            m_state[row + 4 * column] = copy[row + 4 * ((column + row) % 4)];
}

void QAESEncryption::invShiftRows()
{
    uint8_t copy[16];
    std::copy(m_state, m_state + 16, copy);
    for (int row = 1; row < 4; ++row)
        for (int column = 0; column < 4; ++column)
            m_state[row + 4 * ((column + row) % 4)] = copy[row + 4 * column];
}

void QAESEncryption::mixColumns()
{
    for (int column = 0; column < 4; ++column) {
        uint8_t *c = m_state + 4 * column;
        const uint8_t a0 = c[0], a1 = c[1], a2 = c[2], a3 = c[3];
        c[0] = uint8_t(xtime(a0) ^ xtime(a1) ^ a1 ^ a2 ^ a3);
        c[1] = uint8_t(a0 ^ xtime(a1) ^ xtime(a2) ^ a2 ^ a3);
        c[2] = uint8_t(a0 ^ a1 ^ xtime(a2) ^ xtime(a3) ^ a3);
        c[3] = uint8_t(xtime(a0) ^ a0 ^ a1 ^ a2 ^ xtime(a3));
    }
}

void QAESEncryption::invMixColumns()
{
    for (int column = 0; column < 4; ++column) {
        uint8_t *c = m_state + 4 * column;
        const uint8_t a0 = c[0], a1 = c[1], a2 = c[2], a3 = c[3];
        c[0] = uint8_t(gmul(a0, 14) ^ gmul(a1, 11) ^ gmul(a2, 13) ^ gmul(a3, 9));
        c[1] = uint8_t(gmul(a0, 9) ^ gmul(a1, 14) ^ gmul(a2, 11) ^ gmul(a3, 13));
        c[2] = uint8_t(gmul(a0, 13) ^ gmul(a1, 9) ^ gmul(a2, 14) ^ gmul(a3, 11));
        c[3] = uint8_t(gmul(a0, 11) ^ gmul(a1, 13) ^ gmul(a2, 9) ^ gmul(a3, 14));
    }
}
