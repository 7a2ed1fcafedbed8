#include "link/authorizeuser.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QSettings>

#include "system/atomicfile.h"
#include "system/systemmanager.h"

namespace {

QByteArray bytesUpToNul(const QByteArray &bytes)
{
    return bytes.left(int(qstrnlen(bytes.constData(), uint(bytes.size()))));
}

} // namespace

AuthorizeUser::AuthorizeUser(QObject *parent)
    : QObject(parent)
{
    QFile file(QString::fromLatin1(passwordFilePath));
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Cannot open password file:" << file.errorString();
        return;
    }
    m_password = QString::fromUtf8(bytesUpToNul(file.readAll()));
}

void AuthorizeUser::checkPassword(const QByteArray &password)
{
    emit authorized(comparePasswordHash(password));
}

bool AuthorizeUser::updatePassword(const QByteArray &newPassword)
{
    const QByteArray record = bytesUpToNul(newPassword);
    // Replaced as a whole: a failed or interrupted write keeps the old record on disk.
    QString error;
    if (!AtomicFile::write(QString::fromLatin1(passwordFilePath), record, &error)) {
        qDebug() << "Cannot open password file:" << error;
        return false;
    }
    m_password = QString::fromUtf8(record);
    return true;
}

bool AuthorizeUser::restoreDefaultPassword()
{
    // Read directly: without "SN" there is no default, the manager's "00000000" does not apply.
    const QSettings settings(QString::fromLatin1(SystemManager::settingsFilePath), QSettings::IniFormat);
    if (!settings.contains(QStringLiteral("SN")))
        return false;
    const QByteArray serial = bytesUpToNul(settings.value(QStringLiteral("SN")).toString().toUtf8());
    return updatePassword(QCryptographicHash::hash(serial, QCryptographicHash::Md5).toHex());
}

bool AuthorizeUser::comparePasswordHash(const QByteArray &passwd) const
{
    return QString::fromUtf8(bytesUpToNul(passwd)) == m_password;
}
