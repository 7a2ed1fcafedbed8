// Datagrams from the LAN: order frames, discovery requests and records, search replies, control
// datagrams. None may crash; a frame that parses must survive a rebuild unchanged.
#include "wire/controldatagram.h"
#include "wire/deviceinfo.h"
#include "wire/discoveryrecord.h"
#include "wire/udppacket.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char *>(data), int(size));

    udp_packet packet;
    if (udp_packet::parse(datagram, &packet)) {
        const QByteArray rebuilt = udp_packet::buildUdpPacketFrame(packet.header.type, packet.header.subType,
                                                                   packet.arg1, packet.arg2, packet.payload);
        udp_packet again;
        if (!udp_packet::parse(rebuilt, &again) || again.payload != packet.payload)
            std::abort();
    }

    DiscoveryRecord record;
    DiscoveryRecord::fromBytes(datagram, &record);
    DiscoveryRecord::isRequest(datagram);
    DeviceInfo info;
    DeviceInfo::fromBytes(datagram, &info);

    if (ControlDatagram::hasControlData(datagram)) {
        const QByteArray payload = ControlDatagram::payload(datagram);
        for (auto level : {ControlDatagram::StateLevel, ControlDatagram::TrackLevel, ControlDatagram::ModeLevel,
                           ControlDatagram::VolumeLevel})
            ControlDatagram::mapLevel(level, ControlDatagram::level(payload, level));
    }
    return 0;
}
