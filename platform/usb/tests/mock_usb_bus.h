// A USB bus emulated with umockdev, for running the real libusb backend
// without hardware. The process must run under umockdev-wrapper.
//
// Each plugged device gets a sysfs record (device and configuration
// descriptors with one vendor-specific interface and a bulk endpoint pair)
// and an ioctl handler that plays usbfs: bulk URBs go to a
// platform::Peripheral (the simulated camera's firmware), control URBs answer
// string descriptor requests from the peripheral's attributes, and faults
// can be injected per endpoint direction. The handler runs on umockdev's own
// thread; everything here is safe to call from the test's threads.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/peripheral.h"

namespace usbtest {

struct PlugOptions {
    // Location below the root hub of bus 1: "1" is 1-1, "1.4" is port 4 of a
    // hub on port 1 (hubs are created as needed).
    std::string port = "1";
    uint8_t in_endpoint = 0x81;
    uint8_t out_endpoint = 0x01;
    // Mode of the device node; 0 makes opening it fail for non-root users.
    unsigned node_mode = 0666;
    // Another program holds the interface: claims fail with EBUSY.
    bool claimed_elsewhere = false;
    // Send the "add" uevent (hotplug). Without it only a fresh libusb sees
    // the device.
    bool announce = true;
};

enum class Fault {
    None,
    Stall,  // the URB completes with -EPIPE
    Hang,   // the URB never completes until discarded (a timeout)
    Short,  // an IN URB completes with half the bytes asked for
};

class MockUsbDevice {
  public:
    const std::string& sysfs_path() const { return sysfs_path_; }
    const std::string& devnode() const { return devnode_; }
    // "usb:1-1.4"
    std::string device_path() const { return "usb:1-" + port_; }

    void SetNextInFault(Fault fault);
    void SetNextOutFault(Fault fault);
    // Waits until an IN URB is parked by a Hang fault.
    bool WaitForParkedIn(int timeout_ms);

    struct Counters {
        int claims = 0;
        int releases = 0;
        int bulk_out = 0;  // bulk transfers tried, also after the device left
        int bulk_in = 0;
        int reaps = 0;
        int discards = 0;
        int clear_halts = 0;
        int unknown_ioctls = 0;
    };
    Counters counters() const;

  private:
    friend class MockUsbBus;
    struct Urb {
        UMockdevIoctlData* data;  // owned reference
        bool in;
    };

    static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    gboolean HandleIoctl(UMockdevIoctlClient* client);
    void SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
    void AnswerControl(UMockdevIoctlData* urb_data, UMockdevIoctlData* buffer);
    void Complete(UMockdevIoctlData* urb_data, int status, int actual);
    void Park(UMockdevIoctlData* urb_data);
    void GoneLocked();

    std::shared_ptr<platform::Peripheral> peripheral_;
    std::string port_;
    std::string sysfs_path_;
    std::string devnode_;
    uint8_t in_endpoint_ = 0x81;
    uint8_t out_endpoint_ = 0x01;
    UMockdevIoctlBase* handler_ = nullptr;

    mutable std::mutex mutex_;
    std::condition_variable parked_cv_;
    bool gone_ = false;
    bool claimed_elsewhere_ = false;
    Fault next_in_ = Fault::None;
    Fault next_out_ = Fault::None;
    std::deque<UMockdevIoctlData*> done_;
    std::vector<UMockdevIoctlData*> parked_;
    Counters counters_;
};

class MockUsbBus {
  public:
    MockUsbBus();
    ~MockUsbBus();
    MockUsbBus(const MockUsbBus&) = delete;
    MockUsbBus& operator=(const MockUsbBus&) = delete;

    // Plugs a device whose ids and strings come from peripheral->Attributes().
    MockUsbDevice& Plug(std::shared_ptr<platform::Peripheral> peripheral,
                        const PlugOptions& options = {});
    // Pulls it out: pending URBs complete with -ENODEV, later ioctls fail
    // with ENODEV, and the "remove" uevent is sent.
    void Unplug(MockUsbDevice& device);

    std::string root_dir() const { return root_dir_; }

  private:
    void AddHub(const std::string& port);
    std::string AddRecord(const std::string& port, const std::string& descriptors_hex,
                          const std::string& extra);

    UMockdevTestbed* testbed_ = nullptr;
    std::string root_dir_;
    int next_devnum_ = 2;
    std::vector<std::string> hubs_;
    std::vector<std::unique_ptr<MockUsbDevice>> devices_;
};

}  // namespace usbtest
