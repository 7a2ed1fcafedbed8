#pragma once

// Encrypts and decrypts whole files (the stick's reset file) with AES-128/ECB and the fixed
// key every device shares.

#include <QByteArray>
#include <QObject>

class QAESEncryption;

class FileCrypt : public QObject
{
    Q_OBJECT
public:
    // Not a secret: anyone holding the program has it; installers need it to make reset files.
    static const QByteArray &fixedKey();

    explicit FileCrypt(QObject *parent = nullptr);

    QByteArray encrypt(const QByteArray &data) const;
    QByteArray decrypt(const QByteArray &data) const;

private:
    QByteArray m_key;
    QAESEncryption *m_aes;
};

