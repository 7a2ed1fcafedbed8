#include "link/tcpprotocol.h"

#include <QtEndian>

namespace TcpProtocol {

namespace {

// Reads fields from one request; bytes beyond the end read as zero, as the tool may send
// requests shorter than their layout.
class FieldReader
{
public:
    explicit FieldReader(const QByteArray &bytes) : m_bytes(bytes) {}

    quint8 u8()
    {
        const quint8 value = m_pos < m_bytes.size() ? quint8(m_bytes.at(m_pos)) : 0;
        ++m_pos;
        return value;
    }

    quint16 u16()
    {
        const quint16 high = u8();
        return quint16(high << 8 | u8());
    }

    // The bytes that exist of a field of the given width; the missing rest would be zeros.
    QByteArray bytes(int width)
    {
        const QByteArray field = m_pos < m_bytes.size() ? m_bytes.mid(m_pos, width) : QByteArray();
        m_pos += width;
        return field;
    }

    QByteArray text(int width) { return textUpToNul(bytes(width)); }

private:
    const QByteArray &m_bytes;
    int m_pos = 0;
};

// Reads a complete reply from a stream; stops at the first field that has not arrived yet.
class ReplyReader
{
public:
    explicit ReplyReader(const QByteArray &bytes) : m_bytes(bytes) {}

    bool has(qint64 count) const { return m_pos + count <= m_bytes.size(); }
    int position() const { return int(m_pos); }

    quint8 u8() { return quint8(m_bytes.at(int(m_pos++))); }
    quint16 u16() { return quint16(u8() << 8 | u8()); }
    quint32 u32()
    {
        const quint32 value = qFromBigEndian<quint32>(m_bytes.constData() + m_pos);
        m_pos += 4;
        return value;
    }
    QByteArray bytes(int count)
    {
        const QByteArray field = m_bytes.mid(int(m_pos), count);
        m_pos += count;
        return field;
    }

private:
    const QByteArray &m_bytes;
    qint64 m_pos = 0;
};

QByteArray nulPadded(const QByteArray &text, int width)
{
    QByteArray field = text.left(width);
    field.append(width - field.size(), '\0');
    return field;
}

void appendU8(QByteArray &out, quint8 value) { out.append(char(value)); }

void appendU16(QByteArray &out, quint16 value)
{
    appendU8(out, quint8(value >> 8));
    appendU8(out, quint8(value));
}

void appendU32(QByteArray &out, quint32 value)
{
    appendU16(out, quint16(value >> 16));
    appendU16(out, quint16(value));
}

// A length byte carries the byte count modulo 256 while every byte of the text is sent, as the
// device always did; texts of that size do not occur in practice.
void appendShortText(QByteArray &out, const QByteArray &text)
{
    appendU8(out, quint8(text.size()));
    out.append(text);
}

void appendNetworkRecord(QByteArray &out, const msgNetworkConfiguration &configuration, const QByteArray &serialField)
{
    appendShortText(out, configuration.ip);
    appendShortText(out, configuration.gw);
    appendU8(out, configuration.mask);
    appendU8(out, configuration.dhcp ? 1 : 0);
    out.append(serialField);
    appendU16(out, configuration.port);
}

Request parseNetworkConfiguration(FieldReader &reader, Request request)
{
    msgNetworkConfiguration &network = request.network;
    network.ip = reader.text(reader.u8());
    network.gw = reader.text(reader.u8());
    network.mask = reader.u8();
    network.dhcp = reader.u8() != 0;
    network.serialNumber = reader.bytes(serialFieldSize);
    network.port = reader.u16();
    return request;
}

bool readShortText(ReplyReader &reader, QByteArray *text)
{
    if (!reader.has(1))
        return false;
    const int length = reader.u8();
    if (!reader.has(length))
        return false;
    *text = reader.bytes(length);
    return true;
}

int parseNetworkReply(ReplyReader &reader, Reply *reply, int serialLength)
{
    reply->kind = Reply::NetworkConfiguration;
    msgNetworkConfiguration &network = reply->network;
    if (!readShortText(reader, &network.ip) || !readShortText(reader, &network.gw))
        return ReplyIncomplete;
    if (!reader.has(2 + serialLength + 2))
        return ReplyIncomplete;
    network.mask = reader.u8();
    network.dhcp = reader.u8() != 0;
    network.serialNumber = reader.bytes(serialLength);
    network.port = reader.u16();
    reply->serialNumber = network.serialNumber;
    return reader.position();
}

int parseFileListReply(ReplyReader &reader, Reply *reply, int serialLength)
{
    reply->kind = Reply::FileList;
    if (!reader.has(serialLength + 4))
        return ReplyIncomplete;
    reply->serialNumber = reader.bytes(serialLength);
    const qint32 count = qint32(reader.u32());
    if (count < 0)
        return ReplyInvalid;
    for (qint32 i = 0; i < count; ++i) {
        if (!reader.has(4))
            return ReplyIncomplete;
        const quint32 length = reader.u32();
        if (length == 0xFFFFFFFFu) { // the stream's null byte array
            reply->files.append(QString());
            continue;
        }
        if (!reader.has(length))
            return ReplyIncomplete;
        reply->files.append(QString::fromUtf8(reader.bytes(int(length))));
    }
    return reader.position();
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
    FieldReader reader(bytes);
    Request request;
    request.code = reader.u8();
    switch (request.code) {
    case CmdLogin:
        request.password = reader.text(passwordFieldSize);
        reader.bytes(2); // read and not used by any tool version
        break;
    case CmdStoreDeviceConfiguration:
        // The channel comes before the file type on the wire.
        request.dmxChannel = reader.u8();
        request.fileType = reader.u8();
        request.deviceLabel = reader.text(labelFieldSize);
        break;
    case CmdWriteNetworkConfiguration:
        return parseNetworkConfiguration(reader, request);
    case CmdChangePassword:
        request.oldPassword = reader.text(passwordFieldSize);
        request.newPassword = reader.text(passwordFieldSize);
        break;
    default:
        break;
    }
    return request;
}

QByteArray loginRequest(const QByteArray &password)
{
    QByteArray out;
    appendU8(out, CmdLogin);
    out.append(nulPadded(password, passwordFieldSize));
    appendU16(out, 0);
    return out;
}

QByteArray deviceConfigurationRequest(quint8 dmxChannel, quint8 fileType, const QByteArray &deviceLabel)
{
    QByteArray out;
    appendU8(out, CmdStoreDeviceConfiguration);
    appendU8(out, dmxChannel);
    appendU8(out, fileType);
    out.append(nulPadded(deviceLabel, labelFieldSize));
    return out;
}

QByteArray networkConfigurationRequest(const msgNetworkConfiguration &configuration)
{
    QByteArray out;
    appendU8(out, CmdWriteNetworkConfiguration);
    appendNetworkRecord(out, configuration, nulPadded(configuration.serialNumber, serialFieldSize));
    return out;
}

QByteArray changePasswordRequest(const QByteArray &oldPassword, const QByteArray &newPassword)
{
    QByteArray out;
    appendU8(out, CmdChangePassword);
    out.append(nulPadded(oldPassword, passwordFieldSize));
    out.append(nulPadded(newPassword, passwordFieldSize));
    return out;
}

QByteArray plainRequest(Command code)
{
    return QByteArray(1, char(code));
}

QByteArray responseReply(quint8 code, const QByteArray &serialNumber)
{
    QByteArray out;
    appendU8(out, ReplyResponse);
    appendU8(out, code);
    out.append(nulPadded(serialNumber, serialFieldSize));
    return out;
}

QByteArray notLoggedInReply()
{
    QByteArray out;
    appendU8(out, ReplyNotLoggedIn);
    appendU8(out, RespNotLoggedIn);
    return out;
}

QByteArray networkConfigurationReply(const msgNetworkConfiguration &configuration)
{
    QByteArray out;
    appendU8(out, ReplyNetworkConfiguration);
    appendNetworkRecord(out, configuration, configuration.serialNumber);
    return out;
}

QByteArray fileListReply(const QByteArray &serialNumber, const QStringList &paths)
{
    QByteArray out;
    appendU8(out, ReplyResponse);
    appendU8(out, RespFileList);
    out.append(serialNumber);
    appendU32(out, quint32(paths.size()));
    for (const QString &path : paths) {
        const QByteArray utf8 = path.toUtf8();
        appendU32(out, quint32(utf8.size()));
        out.append(utf8);
    }
    return out;
}

int parseReply(const QByteArray &bytes, Reply *reply, int serialLength)
{
    *reply = Reply();
    if (serialLength < 0)
        return ReplyInvalid;
    ReplyReader reader(bytes);
    if (!reader.has(2))
        return ReplyIncomplete;
    const quint8 type = reader.u8();
    switch (type) {
    case ReplyNotLoggedIn:
        reply->kind = Reply::NotLoggedIn;
        reply->code = reader.u8();
        return reply->code == RespNotLoggedIn ? reader.position() : ReplyInvalid;
    case ReplyNetworkConfiguration:
        return parseNetworkReply(reader, reply, serialLength);
    case ReplyResponse:
        reply->code = reader.u8();
        if (reply->code == RespFileList)
            return parseFileListReply(reader, reply, serialLength);
        reply->kind = Reply::Response;
        if (!reader.has(serialFieldSize))
            return ReplyIncomplete;
        reply->serialNumber = textUpToNul(reader.bytes(serialFieldSize));
        return reader.position();
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
