#include "system/networkprocessoutputparser.h"

#include <QRegularExpression>

#include "system/systemmanager.h"

namespace {

// The dots are left unescaped (they match any character): escaping them would change what is
// captured from unusual output, and so what ends up in the stored settings.
QByteArray firstCapture(const QString &pattern, const QString &text)
{
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
    return match.hasMatch() ? match.captured(1).toUtf8() : QByteArray();
}

} // namespace

NetworkProcessOutputParser::NetworkProcessOutputParser(QObject *parent)
    : QObject(parent)
{
}

void NetworkProcessOutputParser::setSystemManager(SystemManager *systemManager)
{
    m_systemManager = systemManager;
}

NetInfo NetworkProcessOutputParser::getNetworkInfo() const
{
    if (!m_systemManager)
        return {};
    NetInfo info = parseInterfaceOutput(
        m_systemManager->executeAndReadOutput(QStringLiteral("ifconfig"), {QStringLiteral("eth0")}));
    info.gateway = getGateway();
    return info;
}

QByteArray NetworkProcessOutputParser::getGateway() const
{
    if (!m_systemManager)
        return {};
    return parseRouteOutput(m_systemManager->executeAndReadOutput(QStringLiteral("route"), {}));
}

NetInfo NetworkProcessOutputParser::parseInterfaceOutput(const QString &ifconfigOutput)
{
    NetInfo info;
    info.ip = firstCapture(QStringLiteral(R"(inet (\d{1,3}.\d{1,3}.\d{1,3}.\d{1,3}))"), ifconfigOutput);
    info.netmask =
        firstCapture(QStringLiteral(R"(netmask (\d{1,3}.\d{1,3}.\d{1,3}.\d{1,3}))"), ifconfigOutput);
    return info;
}

QByteArray NetworkProcessOutputParser::parseRouteOutput(const QString &routeOutput)
{
    return firstCapture(QStringLiteral(R"(default\s*(\d{1,3}.\d{1,3}.\d{1,3}.\d{1,3}))"), routeOutput);
}
