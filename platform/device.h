// The device layer: what the card library's transport and the program's device
// link need from the system to reach the camera. A portable core (device.cpp)
// dispatches to a small table of backends (backend.h); device paths carry the
// backend's scheme ("sim:kitchen", "usb:1-1.4", "mem:test0").
//
// A device path opens the camera's interface itself (commands and data in both
// directions). Under a path lie two pipes: path + "/PIPE00" reads (bulk IN) and
// path + "/PIPE01" writes (bulk OUT).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/guid.h"

namespace platform {

inline constexpr std::string_view kReadPipeSuffix = "/PIPE00";
inline constexpr std::string_view kWritePipeSuffix = "/PIPE01";

// What a failed transfer means to the caller. The transport acts on two kinds:
// Aborted (the transfer was cut short and may be retried as it was) and
// DeviceGone (the device left the bus or cannot serve this handle any more).
enum class IoError {
    None,
    Aborted,     // the role of "operation aborted" (995): retry
    DeviceGone,  // the role of "synchronous only" (1159): give up on this handle
    Failed,      // anything else
};

struct IoResult {
    IoError error = IoError::None;
    size_t transferred = 0;  // bytes moved; equals the request on success

    bool ok() const { return error == IoError::None; }
    static IoResult Success(size_t n) { return {IoError::None, n}; }
    static IoResult Failure(IoError e) { return {e, 0}; }
};

const char* ToString(IoError error);

// Which part of a device a handle talks to.
enum class Endpoint {
    Interface,  // the device path itself: writes go OUT, reads come IN
    ReadPipe,   // "/PIPE00": reads only
    WritePipe,  // "/PIPE01": writes only
};

struct DeviceAttributes {
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    uint16_t version = 0;
    std::string manufacturer;
    std::string product;
    std::string serial_number;
};

// One open device path or pipe. Each Write or Read call is exactly one bulk
// transfer of the whole span; a short transfer is reported as Failed.
class DeviceHandle {
  public:
    virtual ~DeviceHandle() = default;
    virtual IoResult Write(std::span<const uint8_t> data) = 0;
    virtual IoResult Read(std::span<uint8_t> buffer) = 0;
    // Identity of the device behind the handle; nullopt when it cannot be read.
    virtual std::optional<DeviceAttributes> Attributes() = 0;
    // Queries the camera does not answer; a backend may override them.
    virtual std::optional<std::vector<uint8_t>> PhysicalDescriptor() { return std::nullopt; }
    virtual std::optional<std::vector<uint8_t>> FeatureReport() { return std::nullopt; }
};

enum class OpenError {
    None,
    NotFound,      // no such device (or it left)
    AccessDenied,  // present but the user may not open it
    Busy,          // claimed by someone else
    Failed,
};

struct OpenResult {
    std::unique_ptr<DeviceHandle> handle;  // null on failure
    OpenError error = OpenError::None;
    std::string message;  // a sentence a user can act on when error != None
};

// Paths of the present devices of an interface class, in a stable order
// (backends in table order, each backend's devices sorted by path).
std::vector<std::string> EnumerateInterfaces(const Guid& interface_class);

// Opens a device path, or a pipe under one ("<path>/PIPE00", "<path>/PIPE01").
OpenResult OpenPath(std::string_view path);

// Splits "<path>/PIPE00" into the device path and the endpoint it names.
struct ParsedPath {
    std::string device_path;
    Endpoint endpoint = Endpoint::Interface;
};
ParsedPath ParsePath(std::string_view path);

}  // namespace platform
