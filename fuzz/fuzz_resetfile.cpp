// A reset file is whatever lies on a stick: decrypting any length with the fixed key, and any
// mode and padding, must never read out of bounds. The first byte picks the mode and padding, so
// each input costs one decryption and the fuzzer still reaches every pair.
#include "wire/filecrypt.h"
#include "wire/qaesencryption.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const QAESEncryption::Mode modes[] = {QAESEncryption::ECB, QAESEncryption::CBC, QAESEncryption::CFB,
                                                 QAESEncryption::OFB};
    static const QAESEncryption::Padding paddings[] = {QAESEncryption::ZERO, QAESEncryption::PKCS7,
                                                       QAESEncryption::ISO};
    const QAESEncryption::Mode mode = modes[data[0] % 4];
    const QAESEncryption::Padding padding = paddings[(data[0] / 4) % 3];
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const QByteArray iv(16, '\x01');
    const QByteArray plain = QAESEncryption::Decrypt(QAESEncryption::AES_128, mode, bytes, FileCrypt::fixedKey(), iv, padding);
    QAESEncryption::RemovePadding(plain, padding);
    QAESEncryption::RemovePadding(bytes, padding);
    return 0;
}
