// Bytes from a configuration tool (requests) and from a box (replies, read by quorvant-ctl).
#include "wire/tcpprotocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const TcpProtocol::Request request = TcpProtocol::parseRequest(bytes);
    TcpProtocol::isAcceptableNetworkConfiguration(request.network.ip, request.network.gw, request.network.mask,
                                                  request.network.dhcp);
    TcpProtocol::Reply reply;
    TcpProtocol::parseReply(bytes, &reply);
    TcpProtocol::parseReply(bytes, &reply, 2);
    return 0;
}
