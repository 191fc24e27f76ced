// The program's only road to the camera: finds the camera's interface, keeps
// its path, opens the read pipe ("/PIPE00") and the write pipe ("/PIPE01")
// under it, sends read commands and collects the data that follows them, and
// follows device arrival and removal to know whether the camera is present.
// The program never writes to the card; the read command is the only one it
// sends.
//
// One device, one pair of pipes and one connected flag for the whole process.
// Every pipe operation holds one lock, so that a removal handled on the window
// thread waits for a worker's read in progress instead of closing the pipes
// under it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/errors.h"
#include "platform/events.h"

namespace devicelink {

// Description of one found interface, filled by FindDevice.
struct THidDeviceData {
    uint16_t vendor_id = 0;
    uint16_t product_id = 0;
    std::string instance;  // the hardware key that was searched for
    std::string manufacturer;
    std::string product;
    std::string serial_number;
    std::string physical_descriptor;
    std::string device_path;
};

// The instance string the start-up probe looks for.
inline constexpr std::string_view kCameraInstance = "USB\\VID_5A17&PID_C3E2\\INST_0";

// Device-change event codes and the broadcast header that comes with them.
inline constexpr uint32_t kDeviceArrival = 0x8000;
inline constexpr uint32_t kDeviceRemoveComplete = 0x8004;
inline constexpr uint32_t kDeviceTypeDevNode = 1;

struct DeviceBroadcastHeader {
    uint32_t size = sizeof(DeviceBroadcastHeader);
    uint32_t device_type = 0;
    uint32_t reserved = 0;
    uint32_t devnode = 0;  // meaningful for device type 1
};

// Texts shown in message boxes while enumerating.
inline constexpr std::string_view kNoPnpNodeText = "Could not attach to PnP node";
inline constexpr std::string_view kNoSystemNameText =
    "Could not find the system name for this HID device";
inline constexpr std::string_view kCannotOpenText = "could not open DevicePath";
inline constexpr std::string_view kFeatureReadText = "could";

// Where the link's messages go: a modal message box in the program; by
// default the platform's error report. Returns the previous sink.
using MessageSink = std::function<void(std::string_view text)>;
MessageSink SetMessageSink(MessageSink sink);

// Parses "VID_xxxx" / "PID_xxxx" out of an instance string; throws
// lensmere::ConversionError ("'$xxxx' is not a valid integer value").
uint16_t ParseId(std::string_view instance, std::string_view key);

void FindDevice(THidDeviceData& record, std::string_view instance);
void ProbeDevice();
bool IsConnected();
void OpenPipes();
void ClosePipes();
// Writes a 16-byte command block to the write pipe when it is open; returns
// whether the whole block went out.
bool SendCommand(const uint8_t (&block)[16]);
// Reads count bytes into destination: one read below 0x8000 bytes, else
// count / 512 pieces of 512 bytes (the remainder is neither requested nor
// written). Returns the number of bytes delivered into destination that the
// camera really sent; 0 with the read pipe not open (destination untouched).
int64_t ReadPipe(uint8_t* destination, int32_t count);
// Sends the read command for a card byte address (low 24 bits), pauses 20 ms
// and reads count bytes. Returns true only when every one of the count bytes
// arrived.
bool ReadCardMemory(uint32_t address, int32_t count, uint8_t* destination);
// Fills the read command for an address.
void BuildReadCommand(uint32_t address, uint8_t (&block)[16]);
void DecodeDeviceChange(uint32_t event, const DeviceBroadcastHeader* header);

// The system's device-change message for an arrival or removal that the
// platform reports: the device's path is given a node number the first time it
// is seen (the same for the life of the process), and at an arrival the
// node's hardware key becomes the device's instance string.
struct DeviceChange {
    uint32_t event = 0;
    DeviceBroadcastHeader header;
};
DeviceChange DeviceChangeFor(const platform::DeviceEvent& event);
uint32_t NodeForPath(const std::string& device_path);
// The hardware key (instance string) of a node; "" for a node of no arrival.
std::string ReadHardwareKey(uint32_t node);
// "USB\VID_5A17&PID_C3E2\<instance>", four capital hex digits each.
std::string InstanceString(uint16_t vendor_id, uint16_t product_id, std::string_view instance);

// The path of the interface in use ("" for none).
std::string DevicePath();
// Closes the pipes and forgets the path (program end, and between tests).
void Shutdown();

}  // namespace devicelink
