#pragma once

// Keeps the password record (MD5 hex text) guarding the TCP configuration service: checks logins,
// replaces the record and restores the default derived from the serial number.

#include <QByteArray>
#include <QObject>
#include <QString>

class AuthorizeUser : public QObject
{
    Q_OBJECT

public:
    static constexpr const char *passwordFilePath = "/cfg/.zr605_password.txt";

    explicit AuthorizeUser(QObject *parent = nullptr);

signals:
    void authorized(bool isAuthorized);

public slots:
    void checkPassword(const QByteArray &password);
    bool updatePassword(const QByteArray &newPassword);
    bool restoreDefaultPassword();
    bool comparePasswordHash(const QByteArray &passwd) const;

private:
    QString m_password;
};
