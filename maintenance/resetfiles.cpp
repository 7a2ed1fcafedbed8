#include "maintenance/resetfiles.h"

#include <QDebug>

ResetFiles::ResetFiles(QObject *parent)
    : QObject(parent)
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

// Placeholder: refuses every file until the reset-file decoding is in place, so the stick keeps
// the file and the device does not reboot.
bool ResetFiles::doReset(const QByteArray &bytes) const
{
    qDebug() << "Reset file handling not available, ignoring" << bytes.size() << "bytes";
    return false;
}
