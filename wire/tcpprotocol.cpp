#include "wire/tcpprotocol.h"

#include "wire/wirestream.h"

#include <QDataStream>

namespace TcpProtocol {

namespace {

using WireStream::readField;
using WireStream::readText;
using WireStream::writeField;

// A length byte carries the byte count modulo 256 while every byte of the text is sent: tools read
// the field that way, and texts of that size do not occur in practice.
void writeShortText(QDataStream &out, const QByteArray &text)
{
    out << quint8(text.size());
    out.writeRawData(text.constData(), text.size());
}

QByteArray readShortText(QDataStream &in)
{
    quint8 length = 0;
    in >> length;
    return readField(in, length);
}

void writeNetworkRecord(QDataStream &out, const msgNetworkConfiguration &configuration, const QByteArray &serialField)
{
    writeShortText(out, configuration.ip);
    writeShortText(out, configuration.gw);
    out << configuration.mask << quint8(configuration.dhcp ? 1 : 0);
    out.writeRawData(serialField.constData(), serialField.size());
    out << configuration.port;
}

// A request may be shorter than its layout: what is missing reads as zero, byte by byte (so the
// port is read as two bytes: a lone high byte still counts).
Request readNetworkConfiguration(QDataStream &in, Request request)
{
    msgNetworkConfiguration &network = request.network;
    network.ip = textUpToNul(readShortText(in));
    network.gw = textUpToNul(readShortText(in));
    quint8 dhcp = 0;
    in >> network.mask >> dhcp;
    network.dhcp = dhcp != 0;
    network.serialNumber = readField(in, serialFieldSize);
    quint8 high = 0;
    quint8 low = 0;
    in >> high >> low;
    network.port = quint16(high << 8 | low);
    return request;
}

// The number of bytes the reply took, or ReplyIncomplete when the stream ended inside it.
int consumed(const QDataStream &in)
{
    return in.status() == QDataStream::Ok ? int(in.device()->pos()) : ReplyIncomplete;
}

int readNetworkReply(QDataStream &in, Reply *reply, int serialLength)
{
    reply->kind = Reply::NetworkConfiguration;
    msgNetworkConfiguration &network = reply->network;
    network.ip = readShortText(in);
    network.gw = readShortText(in);
    quint8 dhcp = 0;
    in >> network.mask >> dhcp;
    network.dhcp = dhcp != 0;
    network.serialNumber = readField(in, serialLength);
    in >> network.port;
    reply->serialNumber = network.serialNumber;
    return consumed(in);
}

// The paths go as the data stream writes byte arrays: a 32-bit length (all ones for a null
// array), then the bytes.
int readFileListReply(QDataStream &in, Reply *reply, int serialLength)
{
    reply->kind = Reply::FileList;
    reply->serialNumber = readField(in, serialLength);
    qint32 count = 0;
    in >> count;
    if (in.status() == QDataStream::Ok && count < 0)
        return ReplyInvalid;
    for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QByteArray path;
        in >> path;
        reply->files.append(path.isNull() ? QString() : QString::fromUtf8(path));
    }
    return consumed(in);
}

bool isDecimalOctet(const QByteArray &part)
{
    if (part.isEmpty() || part.size() > 3)
        return false;
    for (const char c : part) {
        if (c < '0' || c > '9')
            return false;
    }
    // A leading zero reads as octal to some address parsers, so "010" is refused.
    if (part.size() > 1 && part.at(0) == '0')
        return false;
    return part.toInt() <= 255;
}

} // namespace

QByteArray textUpToNul(const QByteArray &field)
{
    const int nul = field.indexOf('\0');
    return nul < 0 ? field : field.left(nul);
}

bool isRequestCode(quint8 code)
{
    return code == CmdLogin || needsLogin(code);
}

bool needsLogin(quint8 code)
{
    return code == CmdStoreDeviceConfiguration || (code >= CmdReadNetworkConfiguration && code <= CmdRemoveFiles);
}

Request parseRequest(const QByteArray &bytes)
{
    QDataStream in(bytes);
    Request request;
    in >> request.code;
    switch (request.code) {
    case CmdLogin:
        request.password = readText(in, passwordFieldSize); // 2 bytes follow that no tool version uses
        break;
    case CmdStoreDeviceConfiguration:
        // The channel comes before the file type on the wire.
        in >> request.dmxChannel >> request.fileType;
        request.deviceLabel = readText(in, labelFieldSize);
        break;
    case CmdWriteNetworkConfiguration:
        return readNetworkConfiguration(in, request);
    case CmdChangePassword:
        request.oldPassword = readText(in, passwordFieldSize);
        request.newPassword = readText(in, passwordFieldSize);
        break;
    default:
        break;
    }
    return request;
}

QByteArray loginRequest(const QByteArray &password)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(CmdLogin);
    writeField(out, password, passwordFieldSize);
    out << quint16(0);
    return bytes;
}

QByteArray deviceConfigurationRequest(quint8 dmxChannel, quint8 fileType, const QByteArray &deviceLabel)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(CmdStoreDeviceConfiguration) << dmxChannel << fileType;
    writeField(out, deviceLabel, labelFieldSize);
    return bytes;
}

QByteArray networkConfigurationRequest(const msgNetworkConfiguration &configuration)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(CmdWriteNetworkConfiguration);
    writeNetworkRecord(out, configuration, configuration.serialNumber.leftJustified(serialFieldSize, '\0', true));
    return bytes;
}

QByteArray changePasswordRequest(const QByteArray &oldPassword, const QByteArray &newPassword)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(CmdChangePassword);
    writeField(out, oldPassword, passwordFieldSize);
    writeField(out, newPassword, passwordFieldSize);
    return bytes;
}

QByteArray plainRequest(Command code)
{
    return QByteArray(1, char(code));
}

QByteArray responseReply(quint8 code, const QByteArray &serialNumber)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(ReplyResponse) << code;
    writeField(out, serialNumber, serialFieldSize);
    return bytes;
}

QByteArray notLoggedInReply()
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << quint8(ReplyNotLoggedIn) << quint8(RespNotLoggedIn);
    return bytes;
}

QByteArray networkConfigurationReply(const msgNetworkConfiguration &configuration)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(ReplyNetworkConfiguration);
    writeNetworkRecord(out, configuration, configuration.serialNumber);
    return bytes;
}

// An empty path goes with length 0, never as a null array.
QByteArray fileListReply(const QByteArray &serialNumber, const QStringList &paths)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << quint8(ReplyResponse) << quint8(RespFileList);
    out.writeRawData(serialNumber.constData(), serialNumber.size());
    out << quint32(paths.size());
    for (const QString &path : paths) {
        const QByteArray utf8 = path.toUtf8();
        out << quint32(utf8.size());
        out.writeRawData(utf8.constData(), utf8.size());
    }
    return bytes;
}

int parseReply(const QByteArray &bytes, Reply *reply, int serialLength)
{
    *reply = Reply();
    if (serialLength < 0)
        return ReplyInvalid;
    if (bytes.size() < 2)
        return ReplyIncomplete;
    QDataStream in(bytes);
    quint8 type = 0;
    in >> type;
    switch (type) {
    case ReplyNotLoggedIn:
        reply->kind = Reply::NotLoggedIn;
        in >> reply->code;
        return reply->code == RespNotLoggedIn ? consumed(in) : ReplyInvalid;
    case ReplyNetworkConfiguration:
        return readNetworkReply(in, reply, serialLength);
    case ReplyResponse:
        in >> reply->code;
        if (reply->code == RespFileList)
            return readFileListReply(in, reply, serialLength);
        reply->kind = Reply::Response;
        reply->serialNumber = readText(in, serialFieldSize);
        return consumed(in);
    default:
        return ReplyInvalid;
    }
}

bool isDottedQuad(const QByteArray &text)
{
    const QList<QByteArray> parts = text.split('.');
    if (parts.size() != 4)
        return false;
    for (const QByteArray &part : parts) {
        if (!isDecimalOctet(part))
            return false;
    }
    return true;
}

bool isAcceptableNetworkConfiguration(const QByteArray &ip, const QByteArray &gw, quint8 mask, bool dhcp)
{
    if (mask > 32)
        return false;
    const auto acceptable = [dhcp](const QByteArray &address) {
        return (dhcp && address.isEmpty()) || isDottedQuad(address);
    };
    return acceptable(ip) && acceptable(gw);
}

} // namespace TcpProtocol
