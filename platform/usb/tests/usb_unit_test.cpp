// Parts of the USB backend that need no bus: naming, error meanings, the
// choice of endpoints, and quiet behaviour where there is no USB.
#include <gtest/gtest.h>
#include <libusb.h>

#include <array>

#include "platform/device.h"
#include "platform/usb/usb_backend.h"
#include "platform/usb/usb_device.h"
#include "platform/usb/usb_errors.h"
#include "platform/usb/usb_ids.h"
#include "platform/usb/usb_path.h"

namespace platform {
namespace {

TEST(UsbPath, NamesTheBusAndThePortChain) {
    const std::array<uint8_t, 2> hub_port{1, 4};
    EXPECT_EQ(UsbDevicePath(1, hub_port), "usb:1-1.4");
    EXPECT_EQ(UsbLocation(1, hub_port), "1-1.4");
    const std::array<uint8_t, 1> direct{12};
    EXPECT_EQ(UsbDevicePath(3, direct), "usb:3-12");
    const std::array<uint8_t, 7> deep{1, 2, 3, 4, 5, 6, 255};
    EXPECT_EQ(UsbDevicePath(255, deep), "usb:255-1.2.3.4.5.6.255");
}

TEST(UsbIds, OnlyTheCameraBelongsToTheCardInterfaceClass) {
    EXPECT_TRUE(UsbDeviceInClass(CardInterfaceGuid, 0x5A17, 0xC3E2));
    EXPECT_FALSE(UsbDeviceInClass(CardInterfaceGuid, 0x5A17, 0xC3E3));
    EXPECT_FALSE(UsbDeviceInClass(CardInterfaceGuid, 0xC3E2, 0x5A17));
    Guid other = CardInterfaceGuid;
    other.data4[7] ^= 0xFF;
    EXPECT_FALSE(UsbDeviceInClass(other, 0x5A17, 0xC3E2));
    EXPECT_TRUE(IsKnownUsbDevice(0x5A17, 0xC3E2));
    EXPECT_FALSE(IsKnownUsbDevice(0x1D6B, 0x0002));
}

TEST(UsbErrors, TransferErrorsCarryTheMeaningsTheTransportActsOn) {
    EXPECT_EQ(IoErrorFromLibusb(LIBUSB_SUCCESS), IoError::None);
    EXPECT_EQ(IoErrorFromLibusb(LIBUSB_ERROR_NO_DEVICE), IoError::DeviceGone);
    EXPECT_EQ(IoErrorFromLibusb(LIBUSB_ERROR_TIMEOUT), IoError::Aborted);
    EXPECT_EQ(IoErrorFromLibusb(LIBUSB_ERROR_INTERRUPTED), IoError::Aborted);
    for (int e : {LIBUSB_ERROR_PIPE, LIBUSB_ERROR_OVERFLOW, LIBUSB_ERROR_IO, LIBUSB_ERROR_ACCESS,
                  LIBUSB_ERROR_NO_MEM, LIBUSB_ERROR_OTHER, LIBUSB_ERROR_NOT_FOUND}) {
        EXPECT_EQ(IoErrorFromLibusb(e), IoError::Failed) << libusb_error_name(e);
    }
}

TEST(UsbErrors, OpenErrorsSayWhatToDo) {
    EXPECT_EQ(OpenErrorFromLibusb(LIBUSB_ERROR_ACCESS), OpenError::AccessDenied);
    EXPECT_EQ(OpenErrorFromLibusb(LIBUSB_ERROR_BUSY), OpenError::Busy);
    EXPECT_EQ(OpenErrorFromLibusb(LIBUSB_ERROR_NO_DEVICE), OpenError::NotFound);
    EXPECT_EQ(OpenErrorFromLibusb(LIBUSB_ERROR_IO), OpenError::Failed);

    const std::string denied = OpenErrorMessage("usb:1-1.4", LIBUSB_ERROR_ACCESS);
    EXPECT_EQ(denied,
              "cannot open the camera at usb:1-1.4: permission denied; install the udev rule "
              "70-quorbit-camera.rules (sudo cmake --install build, then sudo udevadm control "
              "--reload && sudo udevadm trigger) and replug the camera");
    const std::string busy = OpenErrorMessage("usb:2-3", LIBUSB_ERROR_BUSY);
    EXPECT_NE(busy.find("usb:2-3"), std::string::npos);
    EXPECT_NE(busy.find("another program"), std::string::npos);
    const std::string other = OpenErrorMessage("usb:2-3", LIBUSB_ERROR_IO);
    EXPECT_NE(other.find("LIBUSB_ERROR_IO"), std::string::npos) << other;
}

// Builds a configuration in libusb's parsed form.
struct ConfigBuilder {
    std::vector<std::vector<libusb_endpoint_descriptor>> endpoints;
    std::vector<libusb_interface_descriptor> alts;
    std::vector<libusb_interface> interfaces;
    libusb_config_descriptor config{};

    static libusb_endpoint_descriptor Ep(uint8_t address, uint8_t type) {
        libusb_endpoint_descriptor e{};
        e.bLength = LIBUSB_DT_ENDPOINT_SIZE;
        e.bDescriptorType = LIBUSB_DT_ENDPOINT;
        e.bEndpointAddress = address;
        e.bmAttributes = type;
        e.wMaxPacketSize = 512;
        return e;
    }
    const libusb_config_descriptor& Build() {
        alts.resize(endpoints.size());
        interfaces.resize(endpoints.size());
        for (size_t i = 0; i < endpoints.size(); ++i) {
            alts[i] = {};
            alts[i].bInterfaceNumber = static_cast<uint8_t>(i);
            alts[i].bNumEndpoints = static_cast<uint8_t>(endpoints[i].size());
            alts[i].endpoint = endpoints[i].data();
            interfaces[i].altsetting = &alts[i];
            interfaces[i].num_altsetting = 1;
        }
        config.bNumInterfaces = static_cast<uint8_t>(interfaces.size());
        config.interface = interfaces.data();
        return config;
    }
};

TEST(UsbEndpoints, TakesTheFirstInterfaceWithABulkPair) {
    ConfigBuilder b;
    b.endpoints.push_back({ConfigBuilder::Ep(0x81, LIBUSB_TRANSFER_TYPE_INTERRUPT)});
    b.endpoints.push_back({ConfigBuilder::Ep(0x02, LIBUSB_TRANSFER_TYPE_BULK)});  // OUT only
    b.endpoints.push_back({ConfigBuilder::Ep(0x85, LIBUSB_TRANSFER_TYPE_INTERRUPT),
                           ConfigBuilder::Ep(0x83, LIBUSB_TRANSFER_TYPE_BULK),
                           ConfigBuilder::Ep(0x04, LIBUSB_TRANSFER_TYPE_BULK)});
    auto found = FindBulkInterface(b.Build());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->interface_number, 2);
    EXPECT_EQ(found->in_endpoint, 0x83);
    EXPECT_EQ(found->out_endpoint, 0x04);

    ConfigBuilder none;
    none.endpoints.push_back({ConfigBuilder::Ep(0x81, LIBUSB_TRANSFER_TYPE_BULK),
                              ConfigBuilder::Ep(0x82, LIBUSB_TRANSFER_TYPE_BULK)});
    EXPECT_FALSE(FindBulkInterface(none.Build()));
}

// Holds on machines with USB as well as on those without any.
TEST(UsbBackend, AnAbsentCameraIsNotFoundAndNothingIsPrinted) {
    ::testing::internal::CaptureStderr();
    Backend& usb = UsbBackend();
    EXPECT_EQ(usb.Scheme(), "usb");
    for (const std::string& path : usb.Enumerate(CardInterfaceGuid)) {
        EXPECT_EQ(path.rfind("usb:", 0), 0u) << path;
    }
    OpenResult r = usb.Open("usb:250-1.2.3", Endpoint::Interface);
    EXPECT_FALSE(r.handle);
    EXPECT_EQ(r.error, OpenError::NotFound);
    EXPECT_NE(r.message.find("usb:250-1.2.3"), std::string::npos) << r.message;
    std::unique_ptr<EventSource> watch = usb.Watch();
    if (watch) {
        EXPECT_TRUE(watch->Drain().empty());
    }
    watch.reset();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace platform
