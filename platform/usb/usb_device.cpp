#include "platform/usb/usb_device.h"

#include <algorithm>
#include <climits>

#include "platform/usb/usb_errors.h"

namespace platform {
namespace {

// Appends a UTF-16 code unit sequence (string descriptor payload) as UTF-8.
std::string Utf8FromUtf16Le(std::span<const uint8_t> bytes) {
    std::string out;
    const size_t units = bytes.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = bytes[2 * i] | (bytes[2 * i + 1] << 8);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
            const uint32_t low = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c == 0)
            break;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

constexpr uint16_t kEnglishUs = 0x0409;

}  // namespace

std::optional<BulkInterface> FindBulkInterface(const libusb_config_descriptor& config) {
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& itf = config.interface[i];
        if (itf.num_altsetting < 1)
            continue;
        const libusb_interface_descriptor& alt = itf.altsetting[0];
        BulkInterface found;
        found.interface_number = alt.bInterfaceNumber;
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = alt.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) {
                continue;
            }
            const bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
            if (in && found.in_endpoint == 0)
                found.in_endpoint = ep.bEndpointAddress;
            if (!in && found.out_endpoint == 0)
                found.out_endpoint = ep.bEndpointAddress;
        }
        if (found.in_endpoint != 0 && found.out_endpoint != 0)
            return found;
    }
    return std::nullopt;
}

std::shared_ptr<OpenUsbDevice> OpenUsbDevice::Open(std::shared_ptr<UsbContext> context,
                                                   libusb_device* device, const std::string& path,
                                                   OpenResult& result) {
    auto fail = [&](OpenError error, std::string message) {
        result.error = error;
        result.message = std::move(message);
        return nullptr;
    };

    // The descriptors come from the kernel's copy; no need to open yet.
    std::optional<BulkInterface> bulk;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) == LIBUSB_SUCCESS) {
        bulk = FindBulkInterface(*config);
        libusb_free_config_descriptor(config);
    } else if (libusb_get_config_descriptor(device, 0, &config) == LIBUSB_SUCCESS) {
        // Not configured yet: use the first configuration once opened.
        bulk = FindBulkInterface(*config);
        if (bulk)
            bulk->configuration_value = config->bConfigurationValue;
        libusb_free_config_descriptor(config);
    }
    if (!bulk) {
        return fail(OpenError::Failed, "cannot open the camera at " + path +
                                           ": it offers no interface with a bulk IN and a bulk "
                                           "OUT endpoint");
    }

    libusb_device_handle* handle = nullptr;
    int rc = libusb_open(device, &handle);
    if (rc != LIBUSB_SUCCESS)
        return fail(OpenErrorFromLibusb(rc), OpenErrorMessage(path, rc));

    if (bulk->configuration_value != 0) {
        rc = libusb_set_configuration(handle, bulk->configuration_value);
        if (rc != LIBUSB_SUCCESS) {
            libusb_close(handle);
            return fail(OpenErrorFromLibusb(rc), OpenErrorMessage(path, rc));
        }
    }
    // A kernel driver bound to the interface is detached for the claim and
    // reattached at release; where the platform cannot, the claim says so.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    rc = libusb_claim_interface(handle, bulk->interface_number);
    if (rc != LIBUSB_SUCCESS) {
        libusb_close(handle);
        return fail(OpenErrorFromLibusb(rc), OpenErrorMessage(path, rc));
    }
    return std::shared_ptr<OpenUsbDevice>(
        new OpenUsbDevice(std::move(context), device, handle, *bulk, path));
}

OpenUsbDevice::OpenUsbDevice(std::shared_ptr<UsbContext> context, libusb_device* device,
                             libusb_device_handle* handle, BulkInterface bulk, std::string path)
    : context_(std::move(context)),
      device_(libusb_ref_device(device)),
      handle_(handle),
      bulk_(bulk),
      path_(std::move(path)) {}

OpenUsbDevice::~OpenUsbDevice() {
    // Releasing a device that left fails harmlessly; close frees it anyway.
    libusb_release_interface(handle_, bulk_.interface_number);
    libusb_close(handle_);
    libusb_unref_device(device_);
}

IoResult OpenUsbDevice::Write(std::span<const uint8_t> data) {
    // libusb takes OUT data through a non-const pointer but does not write it.
    return Transfer(bulk_.out_endpoint, const_cast<uint8_t*>(data.data()), data.size());
}

IoResult OpenUsbDevice::Read(std::span<uint8_t> buffer) {
    return Transfer(bulk_.in_endpoint, buffer.data(), buffer.size());
}

// Every transfer asked for goes to the device, also after it left (the kernel
// then answers at once that it is gone): what the card code sends stays
// visible on the bus instead of being hidden here.
IoResult OpenUsbDevice::Transfer(uint8_t endpoint, uint8_t* data, size_t length) {
    if (length == 0)
        return IoResult::Success(0);
    if (length > static_cast<size_t>(INT_MAX))
        return IoResult::Failure(IoError::Failed);

    int actual = 0;
    const auto timeout = static_cast<unsigned>(UsbTransferTimeout().count());
    const int rc =
        libusb_bulk_transfer(handle_, endpoint, data, static_cast<int>(length), &actual, timeout);
    const size_t moved = actual > 0 ? static_cast<size_t>(actual) : 0;
    if (rc == LIBUSB_SUCCESS) {
        if (moved == length)
            return IoResult::Success(moved);
        return {IoError::Failed, moved};  // short transfer
    }
    if (rc == LIBUSB_ERROR_NO_DEVICE)
        gone_ = true;
    // A stalled endpoint stays halted until cleared; clear it so that the
    // caller's next command can get through.
    if (rc == LIBUSB_ERROR_PIPE)
        libusb_clear_halt(handle_, endpoint);
    return {IoErrorFromLibusb(rc), moved};
}

std::string OpenUsbDevice::ReadString(uint8_t index, uint16_t language) {
    if (index == 0)
        return {};
    uint8_t buffer[255];
    const int n = libusb_get_string_descriptor(handle_, index, language, buffer, sizeof buffer);
    if (n == LIBUSB_ERROR_NO_DEVICE)
        gone_ = true;
    if (n < 2 || buffer[1] != LIBUSB_DT_STRING)
        return {};
    const size_t length = std::min<size_t>(static_cast<size_t>(n), buffer[0]);
    if (length < 2)
        return {};
    return Utf8FromUtf16Le(std::span<const uint8_t>(buffer + 2, length - 2));
}

std::optional<DeviceAttributes> OpenUsbDevice::Attributes() {
    std::lock_guard lock(strings_mutex_);
    if (attributes_)
        return attributes_;
    if (gone_)
        return std::nullopt;

    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(device_, &desc) != LIBUSB_SUCCESS)
        return std::nullopt;
    DeviceAttributes a;
    a.vendor_id = desc.idVendor;
    a.product_id = desc.idProduct;
    a.version = desc.bcdDevice;

    uint16_t language = kEnglishUs;
    if (desc.iManufacturer || desc.iProduct || desc.iSerialNumber) {
        uint8_t langs[255];
        const int n = libusb_get_string_descriptor(handle_, 0, 0, langs, sizeof langs);
        if (n == LIBUSB_ERROR_NO_DEVICE)
            gone_ = true;
        if (n >= 4 && langs[1] == LIBUSB_DT_STRING)
            language = langs[2] | (langs[3] << 8);
    }
    a.manufacturer = ReadString(desc.iManufacturer, language);
    a.product = ReadString(desc.iProduct, language);
    a.serial_number = ReadString(desc.iSerialNumber, language);
    if (gone_)
        return std::nullopt;
    attributes_ = a;
    return attributes_;
}

}  // namespace platform
