#include "platform/usb/tests/mock_usb_bus.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace usbtest {
namespace {

constexpr uint32_t kCapabilities = USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x & 0xFF));
    v.push_back(static_cast<uint8_t>(x >> 8));
}

// Device descriptor, one configuration, one class-FF interface with the two
// bulk endpoints (512-byte packets, high speed).
std::vector<uint8_t> CameraDescriptors(const platform::DeviceAttributes& a, uint8_t in_ep,
                                       uint8_t out_ep) {
    std::vector<uint8_t> d = {18, 1};
    Put16(d, 0x0200);
    d.insert(d.end(), {0x00, 0x00, 0x00, 64});
    Put16(d, a.vendor_id);
    Put16(d, a.product_id);
    Put16(d, a.version);
    d.push_back(a.manufacturer.empty() ? 0 : 1);
    d.push_back(a.product.empty() ? 0 : 2);
    d.push_back(a.serial_number.empty() ? 0 : 3);
    d.push_back(1);
    // configuration
    d.insert(d.end(), {9, 2});
    Put16(d, 9 + 9 + 7 + 7);
    d.insert(d.end(), {1, 1, 0, 0x80, 50});
    // interface 0: vendor specific, two endpoints
    d.insert(d.end(), {9, 4, 0, 0, 2, 0xFF, 0x00, 0x00, 0});
    d.insert(d.end(), {7, 5, out_ep, 0x02});
    Put16(d, 512);
    d.push_back(0);
    d.insert(d.end(), {7, 5, in_ep, 0x02});
    Put16(d, 512);
    d.push_back(0);
    return d;
}

std::vector<uint8_t> HubDescriptors(uint16_t product) {
    std::vector<uint8_t> d = {18, 1};
    Put16(d, 0x0200);
    d.insert(d.end(), {0x09, 0x00, 0x01, 64});
    Put16(d, 0x1d6b);
    Put16(d, product);
    Put16(d, 0x0606);
    d.insert(d.end(), {0, 0, 0, 1});
    d.insert(d.end(), {9, 2});
    Put16(d, 9 + 9 + 7);
    d.insert(d.end(), {1, 1, 0, 0xE0, 0});
    d.insert(d.end(), {9, 4, 0, 0, 1, 0x09, 0x00, 0x00, 0});
    d.insert(d.end(), {7, 5, 0x81, 0x03});
    Put16(d, 4);
    d.push_back(12);
    return d;
}

std::u16string Utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<uint8_t>(s[i]);
        uint32_t cp = c;
        size_t len = 1;
        if (c >= 0xF0 && i + 3 < s.size()) {
            cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) |
                 (s[i + 3] & 0x3F);
            len = 4;
        } else if (c >= 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
        } else if (c >= 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

// "/devices/usb1/1-1/1-1.4" for port "1.4".
std::string SysfsOf(const std::string& port) {
    std::string sysfs = "/devices/usb1";
    if (port.empty())
        return sysfs;
    size_t start = 0;
    for (;;) {
        const size_t dot = port.find('.', start);
        sysfs += "/1-" + port.substr(0, dot);
        if (dot == std::string::npos)
            return sysfs;
        start = dot + 1;
    }
}

usbdevfs_urb* UrbOf(UMockdevIoctlData* data) {
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

}  // namespace

// ---- device ------------------------------------------------------------------

void MockUsbDevice::SetNextInFault(Fault fault) {
    std::lock_guard lock(mutex_);
    next_in_ = fault;
}

void MockUsbDevice::SetNextOutFault(Fault fault) {
    std::lock_guard lock(mutex_);
    next_out_ = fault;
}

bool MockUsbDevice::WaitForParkedIn(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return parked_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] {
        for (UMockdevIoctlData* u : parked_) {
            if (UrbOf(u)->endpoint & 0x80)
                return true;
        }
        return false;
    });
}

MockUsbDevice::Counters MockUsbDevice::counters() const {
    std::lock_guard lock(mutex_);
    return counters_;
}

gboolean MockUsbDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<MockUsbDevice*>(self)->HandleIoctl(client);
}

void MockUsbDevice::Complete(UMockdevIoctlData* urb_data, int status, int actual) {
    usbdevfs_urb* urb = UrbOf(urb_data);
    urb->status = status;
    urb->actual_length = actual;
    done_.push_back(umockdev_ioctl_data_ref(urb_data));
}

void MockUsbDevice::Park(UMockdevIoctlData* urb_data) {
    parked_.push_back(umockdev_ioctl_data_ref(urb_data));
    parked_cv_.notify_all();
}

void MockUsbDevice::GoneLocked() {
    gone_ = true;
    for (UMockdevIoctlData* urb : parked_) {
        UrbOf(urb)->status = -ENODEV;
        UrbOf(urb)->actual_length = 0;
        done_.push_back(urb);
    }
    parked_.clear();
}

void MockUsbDevice::AnswerControl(UMockdevIoctlData* urb_data, UMockdevIoctlData* buffer) {
    usbdevfs_urb* urb = UrbOf(urb_data);
    uint8_t* setup = buffer->data;
    const int room = urb->buffer_length - 8;
    const bool get_string = setup[0] == 0x80 && setup[1] == 0x06 && setup[3] == 0x03;
    if (!get_string || room < 2) {
        Complete(urb_data, -EPIPE, 0);
        return;
    }
    const platform::DeviceAttributes a = peripheral_->Attributes();
    std::vector<uint8_t> desc;
    const uint8_t index = setup[2];
    if (index == 0) {
        desc = {4, 3, 0x09, 0x04};
    } else {
        const std::string* text = index == 1   ? &a.manufacturer
                                  : index == 2 ? &a.product
                                  : index == 3 ? &a.serial_number
                                               : nullptr;
        if (!text) {
            Complete(urb_data, -EPIPE, 0);
            return;
        }
        std::u16string units = Utf16(*text);
        if (units.size() > 126)
            units.resize(126);
        desc = {static_cast<uint8_t>(2 + 2 * units.size()), 3};
        for (char16_t u : units)
            Put16(desc, static_cast<uint16_t>(u));
    }
    const int wanted = setup[6] | (setup[7] << 8);
    const int n = std::min({static_cast<int>(desc.size()), room, wanted});
    std::memcpy(setup + 8, desc.data(), static_cast<size_t>(n));
    Complete(urb_data, 0, n);
}

void MockUsbDevice::SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urb_data =
        umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    usbdevfs_urb* urb = UrbOf(urb_data);
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        urb_data, G_STRUCT_OFFSET(usbdevfs_urb, buffer), urb->buffer_length, nullptr);
    const size_t length = static_cast<size_t>(urb->buffer_length);
    int result = 0;
    int error = 0;
    const bool bulk = urb->type == USBDEVFS_URB_TYPE_BULK;
    // Every bulk transfer the host tries is counted, also those after the
    // device left: a check that nothing is sent after an unplug must be able
    // to fail.
    if (bulk && urb->endpoint == out_endpoint_)
        ++counters_.bulk_out;
    if (bulk && urb->endpoint == in_endpoint_)
        ++counters_.bulk_in;

    if (gone_) {
        result = -1;
        error = ENODEV;
    } else if (urb->type == USBDEVFS_URB_TYPE_CONTROL && urb->endpoint == 0) {
        AnswerControl(urb_data, buffer);
    } else if (bulk && urb->endpoint == out_endpoint_) {
        const Fault fault = next_out_;
        next_out_ = Fault::None;
        if (fault == Fault::Stall) {
            Complete(urb_data, -EPIPE, 0);
        } else if (fault == Fault::Hang) {
            Park(urb_data);
        } else {
            platform::IoResult r = peripheral_->HandleOut(
                platform::Endpoint::WritePipe, std::span<const uint8_t>(buffer->data, length));
            if (r.error == platform::IoError::None) {
                Complete(urb_data, 0, static_cast<int>(length));
            } else if (r.error == platform::IoError::Aborted) {
                Park(urb_data);
            } else if (r.error == platform::IoError::DeviceGone) {
                Complete(urb_data, -ENODEV, 0);
                GoneLocked();
            } else {
                Complete(urb_data, -EPIPE, 0);
            }
        }
    } else if (bulk && urb->endpoint == in_endpoint_) {
        const Fault fault = next_in_;
        next_in_ = Fault::None;
        if (fault == Fault::Stall) {
            Complete(urb_data, -EPIPE, 0);
        } else if (fault == Fault::Hang) {
            Park(urb_data);
        } else if (fault == Fault::Short) {
            platform::IoResult r = peripheral_->HandleIn(
                platform::Endpoint::ReadPipe, std::span<uint8_t>(buffer->data, length / 2));
            Complete(urb_data, r.ok() ? 0 : -EPIPE, r.ok() ? static_cast<int>(length / 2) : 0);
        } else {
            platform::IoResult r = peripheral_->HandleIn(platform::Endpoint::ReadPipe,
                                                         std::span<uint8_t>(buffer->data, length));
            if (r.error == platform::IoError::None) {
                Complete(urb_data, 0, static_cast<int>(std::min(r.transferred, length)));
            } else if (r.error == platform::IoError::Aborted) {
                Park(urb_data);
            } else if (r.error == platform::IoError::DeviceGone) {
                Complete(urb_data, -ENODEV, 0);
                GoneLocked();
            } else {
                Complete(urb_data, -EPIPE, 0);
            }
        }
    } else {
        result = -1;
        error = ENOENT;  // no such endpoint
    }
    g_object_unref(buffer);
    g_object_unref(urb_data);
    umockdev_ioctl_client_complete(client, result, error);
}

gboolean MockUsbDevice::HandleIoctl(UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);

    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData* caps =
                umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
            std::memcpy(caps->data, &kCapabilities, sizeof kCapabilities);
            g_object_unref(caps);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_CLEAR_HALT:
            if (gone_) {
                umockdev_ioctl_client_complete(client, -1, ENODEV);
                return TRUE;
            }
            if (claimed_elsewhere_ && request != USBDEVFS_RELEASEINTERFACE &&
                request != USBDEVFS_CLEAR_HALT) {
                umockdev_ioctl_client_complete(client, -1, EBUSY);
                return TRUE;
            }
            if (request == USBDEVFS_RELEASEINTERFACE) {
                ++counters_.releases;
            } else if (request == USBDEVFS_CLEAR_HALT) {
                ++counters_.clear_halts;
            } else {
                ++counters_.claims;
            }
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            // No kernel driver is bound to the camera's interface.
            umockdev_ioctl_client_complete(client, -1, ENODATA);
            return TRUE;
        case USBDEVFS_SUBMITURB:
            SubmitUrb(client, arg);
            return TRUE;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY: {
            ++counters_.reaps;
            if (done_.empty()) {
                umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EAGAIN);
                return TRUE;
            }
            UMockdevIoctlData* urb = done_.front();
            done_.pop_front();
            // The slot the caller's pointer argument points at receives the
            // URB's address.
            UMockdevIoctlData* slot = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
            umockdev_ioctl_data_set_ptr(slot, 0, urb);
            g_object_unref(slot);
            g_object_unref(urb);
            umockdev_ioctl_client_complete(client, 0, 0);
            return TRUE;
        }
        case USBDEVFS_DISCARDURB: {
            ++counters_.discards;
            void* address = *reinterpret_cast<void**>(arg->data);
            for (auto it = parked_.begin(); it != parked_.end(); ++it) {
                if (reinterpret_cast<void*>((*it)->client_addr) != address)
                    continue;
                UrbOf(*it)->status = -ENOENT;
                UrbOf(*it)->actual_length = 0;
                done_.push_back(*it);
                parked_.erase(it);
                umockdev_ioctl_client_complete(client, 0, 0);
                return TRUE;
            }
            umockdev_ioctl_client_complete(client, -1, gone_ ? ENODEV : EINVAL);
            return TRUE;
        }
        default:
            ++counters_.unknown_ioctls;
            std::fprintf(stderr, "mock usb: unhandled ioctl 0x%lx\n", request);
            return FALSE;
    }
}

// ---- bus ---------------------------------------------------------------------

MockUsbBus::MockUsbBus() {
    testbed_ = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_dir_ = root;
    g_free(root);
    AddRecord("", Hex(HubDescriptors(0x0002)), "");
}

MockUsbBus::~MockUsbBus() {
    for (auto& d : devices_) {
        umockdev_testbed_detach_ioctl(testbed_, d->devnode_.c_str(), nullptr);
        g_object_unref(d->handler_);
        std::lock_guard lock(d->mutex_);
        for (UMockdevIoctlData* u : d->done_)
            g_object_unref(u);
        for (UMockdevIoctlData* u : d->parked_)
            g_object_unref(u);
    }
    g_object_unref(testbed_);
}

// Adds the sysfs record of the device at "1-<port>" (or the root hub for an
// empty port) and returns its device node.
std::string MockUsbBus::AddRecord(const std::string& port, const std::string& descriptors_hex,
                                  const std::string& extra) {
    const int devnum = port.empty() ? 1 : next_devnum_++;
    const std::string sysfs = SysfsOf(port);
    char node[32];
    std::snprintf(node, sizeof node, "bus/usb/001/%03d", devnum);
    char nums[128];
    std::snprintf(nums, sizeof nums,
                  "E: BUSNUM=001\nE: DEVNUM=%03d\nA: busnum=1\\n\nA: devnum=%d\\n\n", devnum,
                  devnum);
    const std::string record = "P: " + sysfs + "\nN: " + node + "\nE: SUBSYSTEM=usb\n" +
                               "E: DRIVER=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/" + node +
                               "\n" + nums + "A: bConfigurationValue=1\\n\nA: speed=480\\n\n" +
                               extra + "H: descriptors=" + descriptors_hex + "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev record: " + message);
    }
    return "/dev/" + std::string(node);
}

void MockUsbBus::AddHub(const std::string& port) {
    for (const std::string& h : hubs_) {
        if (h == port)
            return;
    }
    hubs_.push_back(port);
    AddRecord(port, Hex(HubDescriptors(0x0001)), "");
}

MockUsbDevice& MockUsbBus::Plug(std::shared_ptr<platform::Peripheral> peripheral,
                                const PlugOptions& options) {
    for (size_t dot = options.port.find('.'); dot != std::string::npos;
         dot = options.port.find('.', dot + 1)) {
        AddHub(options.port.substr(0, dot));
    }
    auto device = std::make_unique<MockUsbDevice>();
    MockUsbDevice& d = *device;
    d.peripheral_ = std::move(peripheral);
    d.port_ = options.port;
    d.in_endpoint_ = options.in_endpoint;
    d.out_endpoint_ = options.out_endpoint;
    d.claimed_elsewhere_ = options.claimed_elsewhere;

    const platform::DeviceAttributes a = d.peripheral_->Attributes();
    char ids[160];
    std::snprintf(ids, sizeof ids,
                  "E: PRODUCT=%x/%x/%x\nA: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", a.vendor_id,
                  a.product_id, a.version, a.vendor_id, a.product_id);

    // The handler must be in place before the record appears, so that an
    // open that reacts to the add event reaches it.
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", next_devnum_);
    d.devnode_ = node;
    d.handler_ = umockdev_ioctl_base_new();
    g_signal_connect(d.handler_, "handle-ioctl", G_CALLBACK(&MockUsbDevice::OnIoctl), &d);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, d.devnode_.c_str(), d.handler_, &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        throw std::runtime_error("umockdev ioctl: " + message);
    }
    AddRecord(options.port, Hex(CameraDescriptors(a, options.in_endpoint, options.out_endpoint)),
              ids);
    d.sysfs_path_ = "/sys" + SysfsOf(options.port);
    if (options.node_mode != 0666) {
        ::chmod((root_dir_ + d.devnode_).c_str(), options.node_mode);
        // So that a test can try the node as another user and be refused by
        // the node itself: the testbed and the handler's socket stay open
        // to everyone.
        ::chmod(root_dir_.c_str(), 0711);
        ::chmod((root_dir_ + "/ioctl" + d.devnode_).c_str(), 0777);
    }
    if (options.announce)
        umockdev_testbed_uevent(testbed_, d.sysfs_path_.c_str(), "add");
    devices_.push_back(std::move(device));
    return d;
}

void MockUsbBus::Unplug(MockUsbDevice& device) {
    {
        std::lock_guard lock(device.mutex_);
        device.GoneLocked();
    }
    umockdev_testbed_uevent(testbed_, device.sysfs_path_.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, device.sysfs_path_.c_str());
}

}  // namespace usbtest
