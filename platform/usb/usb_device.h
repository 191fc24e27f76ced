// One opened camera: a libusb handle with its interface claimed, shared by
// every DeviceHandle on the device path and its two pipes (the program opens
// "PIPE00" and "PIPE01" separately; a second claim of the same interface
// would fail). The last handle to go releases the interface and closes.
#pragma once

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/device.h"
#include "platform/usb/usb_context.h"

namespace platform {

// The bulk pair a camera's interface offers, read from its descriptors.
struct BulkInterface {
    int interface_number = -1;
    int configuration_value = 0;  // 0: the active configuration
    uint8_t in_endpoint = 0;
    uint8_t out_endpoint = 0;
};

// The first interface (alternate setting 0) that has a bulk IN and a bulk OUT
// endpoint; nullopt when the configuration has none.
std::optional<BulkInterface> FindBulkInterface(const libusb_config_descriptor& config);

class OpenUsbDevice {
  public:
    // Opens and claims; result.handle stays empty, the error and message
    // are filled on failure.
    static std::shared_ptr<OpenUsbDevice> Open(std::shared_ptr<UsbContext> context,
                                               libusb_device* device, const std::string& path,
                                               OpenResult& result);
    ~OpenUsbDevice();
    OpenUsbDevice(const OpenUsbDevice&) = delete;
    OpenUsbDevice& operator=(const OpenUsbDevice&) = delete;

    libusb_device* device() const { return device_; }
    bool gone() const { return gone_.load(); }

    IoResult Write(std::span<const uint8_t> data);
    IoResult Read(std::span<uint8_t> buffer);
    std::optional<DeviceAttributes> Attributes();

  private:
    OpenUsbDevice(std::shared_ptr<UsbContext> context, libusb_device* device,
                  libusb_device_handle* handle, BulkInterface bulk, std::string path);
    IoResult Transfer(uint8_t endpoint, uint8_t* data, size_t length);
    std::string ReadString(uint8_t index, uint16_t language);

    std::shared_ptr<UsbContext> context_;  // outlives the handle
    libusb_device* device_;                // referenced
    libusb_device_handle* handle_;
    BulkInterface bulk_;
    std::string path_;
    std::atomic<bool> gone_{false};

    std::mutex strings_mutex_;
    std::optional<DeviceAttributes> attributes_;
};

// The per-call timeout of a bulk transfer (2 s unless changed).
std::chrono::milliseconds UsbTransferTimeout();

}  // namespace platform
