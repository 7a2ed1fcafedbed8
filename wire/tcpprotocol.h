#pragma once

// Byte layouts of the TCP configuration service in both directions: the daemon parses requests
// and builds replies, the configuration tool builds requests and parses replies.

#include <QByteArray>
#include <QStringList>
#include <QtGlobal>

namespace TcpProtocol {

constexpr quint16 port = 50000;
constexpr int passwordFieldSize = 32;
constexpr int labelFieldSize = 33;
constexpr int serialFieldSize = 8;

enum Command : quint8 {
    CmdLogin = 1,
    CmdStoreDeviceConfiguration = 2,
    CmdReadNetworkConfiguration = 4,
    CmdWriteNetworkConfiguration = 5,
    CmdChangePassword = 6,
    CmdListFiles = 7,
    CmdRebootWithAck = 8,
    CmdRebootWithoutAck = 9,
    CmdRemoveFiles = 10,
};

// First byte of every reply.
enum ReplyType : quint8 {
    ReplyNotLoggedIn = 1,
    ReplyNetworkConfiguration = 2,
    ReplyResponse = 3,
};

enum ResponseCode : quint8 {
    RespLoginAccepted = 1,
    RespNetworkApplied = 3,
    RespPasswordChanged = 4,
    RespRebootAccepted = 5,
    RespFileList = 6,
    RespConfigurationStored = 7,
    RespLoginRefused = 10,
    RespPasswordRefused = 11,
    RespNotLoggedIn = 12,
};

// Payload of request 5 and body of the reply to request 4.
struct msgNetworkConfiguration {
    QByteArray ip;
    QByteArray gw;
    quint8 mask = 0;
    bool dhcp = false;
    QByteArray serialNumber;
    quint16 port = 0;
};

// One parsed request; only the fields of its code are filled, missing bytes read as zero.
struct Request {
    quint8 code = 0;
    QByteArray password;
    QByteArray oldPassword;
    QByteArray newPassword;
    quint8 dmxChannel = 0;
    quint8 fileType = 0;
    QByteArray deviceLabel;
    msgNetworkConfiguration network;
};

bool isRequestCode(quint8 code);
bool needsLogin(quint8 code);
Request parseRequest(const QByteArray &bytes);

QByteArray loginRequest(const QByteArray &password);
QByteArray deviceConfigurationRequest(quint8 dmxChannel, quint8 fileType, const QByteArray &deviceLabel);
QByteArray networkConfigurationRequest(const msgNetworkConfiguration &configuration);
QByteArray changePasswordRequest(const QByteArray &oldPassword, const QByteArray &newPassword);
QByteArray plainRequest(Command code);

QByteArray responseReply(quint8 code, const QByteArray &serialNumber);
QByteArray notLoggedInReply();
QByteArray networkConfigurationReply(const msgNetworkConfiguration &configuration);
QByteArray fileListReply(const QByteArray &serialNumber, const QStringList &paths);

struct Reply {
    enum Kind { NotLoggedIn, NetworkConfiguration, Response, FileList };
    Kind kind = Response;
    quint8 code = 0;
    QByteArray serialNumber;
    msgNetworkConfiguration network;
    QStringList files;
};

// The device sends the serial number of the network and file-list replies without a length;
// a reader has to know it (set-serial stores a number, so "42" or ten digits occur) or assume
// the usual eight digits.
constexpr int ReplyIncomplete = 0;
constexpr int ReplyInvalid = -1;
// Reads one reply from the start of a byte stream. Returns the number of bytes it took, or
// ReplyIncomplete when more bytes are needed, or ReplyInvalid when no reply starts there.
int parseReply(const QByteArray &bytes, Reply *reply, int serialLength = serialFieldSize);

// A tool's network configuration is accepted only when applying it cannot write anything but
// an address into the interface file.
bool isDottedQuad(const QByteArray &text);
bool isAcceptableNetworkConfiguration(const QByteArray &ip, const QByteArray &gw, quint8 mask, bool dhcp);

QByteArray textUpToNul(const QByteArray &field);

} // namespace TcpProtocol

