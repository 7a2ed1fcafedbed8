// A reset file is whatever lies on a stick: decrypting any length with the fixed key, and any
// mode and padding, must never read out of bounds.
#include "wire/filecrypt.h"
#include "wire/qaesencryption.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QByteArray key = FileCrypt::fixedKey();
    const QByteArray iv(16, '\x01');
    for (auto mode : {QAESEncryption::ECB, QAESEncryption::CBC, QAESEncryption::CFB, QAESEncryption::OFB}) {
        for (auto padding : {QAESEncryption::ZERO, QAESEncryption::PKCS7, QAESEncryption::ISO}) {
            const QByteArray plain = QAESEncryption::Decrypt(QAESEncryption::AES_128, mode, bytes, key, iv, padding);
            QAESEncryption::RemovePadding(plain, padding);
        }
    }
    QAESEncryption::RemovePadding(bytes, QAESEncryption::PKCS7);
    return 0;
}
