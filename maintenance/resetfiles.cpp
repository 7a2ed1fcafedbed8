#include "maintenance/resetfiles.h"

#include "link/authorizeuser.h"
#include "wire/filecrypt.h"
#include "system/network.h"
#include "system/systemmanager.h"
#include "system/atomicfile.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

namespace {
const QString networkReset = QStringLiteral("network");
const QString passwordReset = QStringLiteral("password");
}

ResetFiles::ResetFiles(QObject *parent)
    : QObject(parent), m_fileCrypt(new FileCrypt(this))
{
}

void ResetFiles::setNetwork(Network *network)
{
    m_network = network;
}

void ResetFiles::setAuthorizeUser(AuthorizeUser *authorizeUser)
{
    m_authorizeUser = authorizeUser;
}

bool ResetFiles::doReset(const QByteArray &bytes) const
{
    return parseCmd(readCommand(bytes));
}

ResetFiles::Commands ResetFiles::readCommand(const QByteArray &bytes) const
{
    if (bytes.size() > maxFileSize) {
        qDebug() << "Reset file too large:" << bytes.size() << "bytes";
        return CmdNone;
    }
    const QByteArray decrypted = m_fileCrypt->decrypt(bytes);
    if (decrypted.isEmpty())
        return CmdNone;

    const QByteArray text = removePadding(decrypted);
    qDebug() << "JSON content:" << text;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        qDebug() << "JSON parse failed:" << error.errorString() << "at:" << error.offset;
        return CmdNone;
    }
    return parseJson(document);
}

QByteArray ResetFiles::removePadding(const QByteArray &bytes) const
{
    QByteArray text = bytes;
    text.replace('\0', QByteArray());
    return text;
}

ResetFiles::Commands ResetFiles::parseJson(const QJsonDocument &document) const
{
    const QJsonObject object = document.object();
    int command = CmdNone;
    if (object.value(networkReset) == QJsonValue(true))
        command |= CmdNetwork;
    if (object.value(passwordReset) == QJsonValue(true))
        command |= CmdPassword;
    return Commands(command);
}

bool ResetFiles::parseCmd(Commands command) const
{
    switch (command) {
    case CmdPassword:
        resetPassword();
        break;
    case CmdAll:
        resetDeviceName();
        resetPassword();
        resetNetwork();
        break;
    case CmdNetwork:
        resetNetwork();
        break;
    default:
        return false;
    }
    qDebug() << "Reset done!";
    return true;
}

void ResetFiles::resetNetwork() const
{
    qDebug() << "Reset network...";
    if (!m_network)
        return;
    // The interface file first: after a power cut in between, the start-up takes the stored
    // settings from it, so the reset is either whole or not begun.
    m_network->setDhcp(true);
    m_network->reloadNetwork();
    m_network->syncNetworkFile();
}

void ResetFiles::resetPassword() const
{
    qDebug() << "Reset password...";
    if (m_authorizeUser)
        m_authorizeUser->restoreDefaultPassword();
}

void ResetFiles::resetDeviceName() const
{
    AtomicFile::storeSettings(QString::fromLatin1(SystemManager::settingsFilePath), {{QStringLiteral("NAME"), QStringLiteral("ZR605")}});
}
