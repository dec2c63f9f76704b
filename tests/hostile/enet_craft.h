// Raw ENet protocol datagrams that a well-behaved libenet never sends, built from <enet/protocol.h> for the hostile
// peer program and the network tests: commands parked behind a reliable message that never comes, fragments of
// messages that never complete, floods of unsequenced messages and CONNECTs that are never followed up. Datagrams
// for a connected peer go out through its libenet host's own socket, so they carry its address and session.
#pragma once

#include <enet/enet.h>

#include <cstring>
#include <string>

namespace enetcraft {

template <class T> void append(std::string &out, const T &cmd, const std::string &data = std::string()) {
    out.append((const char *)&cmd, sizeof(cmd));
    out += data;
}

// The datagram header of a connected peer's traffic, with a sent time so that reliable commands are acknowledged.
inline std::string header(const ENetPeer *peer, enet_uint16 sent_time) {
    enet_uint16 id =
        (enet_uint16)(peer->outgoingPeerID | (peer->outgoingSessionID << ENET_PROTOCOL_HEADER_SESSION_SHIFT) |
                      ENET_PROTOCOL_HEADER_FLAG_SENT_TIME);
    enet_uint16 v[2] = {ENET_HOST_TO_NET_16(id), ENET_HOST_TO_NET_16(sent_time)};
    return std::string((const char *)v, sizeof(v));
}

inline ENetProtocolCommandHeader command(enet_uint8 number, enet_uint8 channel, enet_uint16 reliable_seq) {
    ENetProtocolCommandHeader h;
    h.command = number;
    h.channelID = channel;
    h.reliableSequenceNumber = ENET_HOST_TO_NET_16(reliable_seq);
    return h;
}

// An unreliable message sequenced after reliable message `reliable_seq`: parked while that one is missing.
inline void unreliable(std::string &out, enet_uint8 channel, enet_uint16 reliable_seq, enet_uint16 seq,
                       const std::string &data) {
    ENetProtocolSendUnreliable c;
    c.header = command(ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE, channel, reliable_seq);
    c.unreliableSequenceNumber = ENET_HOST_TO_NET_16(seq);
    c.dataLength = ENET_HOST_TO_NET_16((enet_uint16)data.size());
    append(out, c, data);
}

// One fragment of a reliable message of `total` bytes in `count` fragments starting at sequence number `start`.
// With `unreliable_after` >= 0, a fragment of an unreliable message sequenced after that reliable one instead.
inline void fragment(std::string &out, enet_uint8 channel, enet_uint16 start, enet_uint32 count, enet_uint32 number,
                     enet_uint32 total, enet_uint32 offset, const std::string &data, int unreliable_after = -1) {
    ENetProtocolSendFragment c;
    if (unreliable_after >= 0)
        c.header = command(ENET_PROTOCOL_COMMAND_SEND_UNRELIABLE_FRAGMENT, channel, (enet_uint16)unreliable_after);
    else
        c.header = command(ENET_PROTOCOL_COMMAND_SEND_FRAGMENT | ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE, channel,
                           (enet_uint16)(start + number));
    c.startSequenceNumber = ENET_HOST_TO_NET_16(start);
    c.dataLength = ENET_HOST_TO_NET_16((enet_uint16)data.size());
    c.fragmentCount = ENET_HOST_TO_NET_32(count);
    c.fragmentNumber = ENET_HOST_TO_NET_32(number);
    c.totalLength = ENET_HOST_TO_NET_32(total);
    c.fragmentOffset = ENET_HOST_TO_NET_32(offset);
    append(out, c, data);
}

// A valid unsequenced message: delivered at once, nothing to wait for.
inline void unsequenced(std::string &out, enet_uint8 channel, enet_uint16 group, const std::string &data) {
    ENetProtocolSendUnsequenced c;
    c.header = command(ENET_PROTOCOL_COMMAND_SEND_UNSEQUENCED | ENET_PROTOCOL_COMMAND_FLAG_UNSEQUENCED, channel, 0);
    c.unsequencedGroup = ENET_HOST_TO_NET_16(group);
    c.dataLength = ENET_HOST_TO_NET_16((enet_uint16)data.size());
    append(out, c, data);
}

// A PING asking for an acknowledgement: it queues no message at the receiver, only the acknowledgement.
inline void ping(std::string &out, enet_uint16 reliable_seq) {
    ENetProtocolPing c;
    c.header = command(ENET_PROTOCOL_COMMAND_PING | ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE, 0xFF, reliable_seq);
    append(out, c);
}

// A whole datagram asking for a connection (16 channels, connect data 1) that will never be verified.
inline std::string connect(enet_uint32 connect_id, enet_uint16 sent_time) {
    enet_uint16 v[2] = {ENET_HOST_TO_NET_16(ENET_PROTOCOL_MAXIMUM_PEER_ID | ENET_PROTOCOL_HEADER_FLAG_SENT_TIME),
                        ENET_HOST_TO_NET_16(sent_time)};
    std::string out((const char *)v, sizeof(v));
    ENetProtocolConnect c;
    memset(&c, 0, sizeof(c));
    c.header = command(ENET_PROTOCOL_COMMAND_CONNECT | ENET_PROTOCOL_COMMAND_FLAG_ACKNOWLEDGE, 0xFF, 1);
    c.outgoingPeerID = ENET_HOST_TO_NET_16(0);
    c.incomingSessionID = 0xFF;
    c.outgoingSessionID = 0xFF;
    c.mtu = ENET_HOST_TO_NET_32(ENET_HOST_DEFAULT_MTU);
    c.windowSize = ENET_HOST_TO_NET_32(ENET_PROTOCOL_MAXIMUM_WINDOW_SIZE);
    c.channelCount = ENET_HOST_TO_NET_32(16);
    c.packetThrottleInterval = ENET_HOST_TO_NET_32(ENET_PEER_PACKET_THROTTLE_INTERVAL);
    c.packetThrottleAcceleration = ENET_HOST_TO_NET_32(ENET_PEER_PACKET_THROTTLE_ACCELERATION);
    c.packetThrottleDeceleration = ENET_HOST_TO_NET_32(ENET_PEER_PACKET_THROTTLE_DECELERATION);
    c.connectID = connect_id; // opaque to the receiver, echoed back as is
    c.data = ENET_HOST_TO_NET_32(1);
    append(out, c);
    return out;
}

inline bool send(ENetSocket socket, const ENetAddress &to, const std::string &datagram) {
    ENetBuffer b;
    b.data = (void *)datagram.data();
    b.dataLength = datagram.size();
    return enet_socket_send(socket, &to, &b, 1) == (int)datagram.size();
}

} // namespace enetcraft
