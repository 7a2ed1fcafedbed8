#include "wire/filecrypt.h"

#include "wire/qaesencryption.h"

const QByteArray &FileCrypt::fixedKey()
{
    static const QByteArray key = QByteArray::fromHex("6aab468f944e3d83cb4442dc5aa58bf0");
    return key;
}

FileCrypt::FileCrypt(QObject *parent)
    : QObject(parent),
      m_key(fixedKey()),
      m_aes(new QAESEncryption(QAESEncryption::AES_128, QAESEncryption::ECB, QAESEncryption::ISO))
{
    m_aes->setParent(this);
}

QByteArray FileCrypt::encrypt(const QByteArray &data) const
{
    return m_aes->encode(data, m_key);
}

QByteArray FileCrypt::decrypt(const QByteArray &data) const
{
    return m_aes->decode(data, m_key);
}
