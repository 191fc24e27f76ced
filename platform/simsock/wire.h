// Wire format between the simulated-camera backend ("sim:") and camsim.
//
// Transport: one Unix SOCK_SEQPACKET connection per open handle, to the socket
// "<dir>/<name>.sock" of the camera "sim:<name>". <dir> is $CAMSIM_DIR, else
// $XDG_RUNTIME_DIR/camsim, else /tmp/camsim-<uid>; it has mode 0700. camsim
// binds and listens under a hidden temporary name (starting with '.') and then
// renames it into place, so that a client reacting to the directory event is
// never refused. Files whose name starts with '.' are not devices.
//
// Every request is one message and gets exactly one reply message; one request
// is one bulk transfer. All integers are little-endian.
//
//   request:  RequestHeader, then `length` bytes of data for kOpOut
//   reply:    ReplyHeader, then `length` bytes (IN data, or attributes)
//
// kOpIn asks for `length` bytes; a successful reply carries exactly that many.
// kOpAttributes has length 0; its reply payload is
//   u16 vendor id, u16 product id, u16 version,
//   then manufacturer, product, serial number, each as u16 length + bytes.
// A message that does not parse gets a reply with status kStatusFailed.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace platform::simwire {

inline constexpr uint8_t kOpOut = 1;
inline constexpr uint8_t kOpIn = 2;
inline constexpr uint8_t kOpAttributes = 3;

// Endpoint byte of a request.
inline constexpr uint8_t kEndpointInterface = 0;
inline constexpr uint8_t kEndpointReadPipe = 1;   // PIPE00
inline constexpr uint8_t kEndpointWritePipe = 2;  // PIPE01

inline constexpr uint8_t kStatusOk = 0;
inline constexpr uint8_t kStatusAborted = 1;
inline constexpr uint8_t kStatusDeviceGone = 2;
inline constexpr uint8_t kStatusFailed = 3;

// Largest data part of one message. Both sides receive into buffers of
// kHeaderSize + kMaxTransfer bytes and treat MSG_TRUNC as a malformed message.
inline constexpr uint32_t kMaxTransfer = 64 * 1024;
inline constexpr uint32_t kHeaderSize = 8;

struct RequestHeader {
    uint8_t op = 0;
    uint8_t endpoint = 0;
    uint16_t reserved = 0;
    uint32_t length = 0;
};

struct ReplyHeader {
    uint8_t status = 0;
    uint8_t reserved[3] = {0, 0, 0};
    uint32_t length = 0;
};

inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void EncodeRequest(const RequestHeader& h, uint8_t* out) {
    out[0] = h.op;
    out[1] = h.endpoint;
    PutU16(out + 2, h.reserved);
    PutU32(out + 4, h.length);
}
inline RequestHeader DecodeRequest(const uint8_t* in) {
    return RequestHeader{in[0], in[1], GetU16(in + 2), GetU32(in + 4)};
}
inline void EncodeReply(const ReplyHeader& h, uint8_t* out) {
    out[0] = h.status;
    out[1] = out[2] = out[3] = 0;
    PutU32(out + 4, h.length);
}
inline ReplyHeader DecodeReply(const uint8_t* in) {
    ReplyHeader h;
    h.status = in[0];
    h.length = GetU32(in + 4);
    return h;
}

// The directory that holds the cameras' sockets (created with mode 0700 by
// whoever needs it first).
std::string CamsimDirectory();
// "<dir>/<name>.sock"
std::string SocketPathFor(const std::string& name);

}  // namespace platform::simwire
