// Test rig for the driver through libgphoto2: a simulated camera plugged
// into the emulated USB bus, a twin of it (the same card) that the card
// library reaches in process, and a libgphoto2 camera opened on the bus.
// The process runs under umockdev-wrapper; CAMLIBS names the build folder
// that holds only our driver.
#pragma once

#include <gphoto2/gphoto2-camera.h>
#include <gphoto2/gphoto2-context.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cardlib/session.h"
#include "gphoto/camera_layout.h"
#include "gphoto/picture_codec.h"
#include "platform/inprocess/inprocess_backend.h"
#include "platform/usb/tests/usb_bus_fixture.h"
#include "sim/camera.h"

namespace quorbit_gphoto {

// The picture of a PNG file of exactly width x height; nullopt for anything
// else.
std::optional<RgbPicture> DecodePng(std::span<const uint8_t> file, int width, int height);

}  // namespace quorbit_gphoto

namespace gphototest {

// A libgphoto2 context that keeps what the driver said.
class Context {
  public:
    Context();
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    GPContext* get() const { return context_; }
    const std::vector<std::string>& errors() const { return errors_; }
    const std::vector<std::string>& messages() const { return messages_; }
    std::string AllErrors() const;
    void Clear() {
        errors_.clear();
        messages_.clear();
    }

  private:
    GPContext* context_;
    std::vector<std::string> errors_;
    std::vector<std::string> messages_;
};

// The card library on the twin camera: what the driver's results must equal.
class Twin {
  public:
    explicit Twin(std::shared_ptr<sim::Camera> camera);
    ~Twin();
    quorbit::CardSession& session() { return session_; }
    sim::Camera& camera() { return *camera_; }
    // Uploads a bitmap file's bytes through the library, as a host would: 1 on success.
    int Upload(const std::vector<uint8_t>& bitmap);

  private:
    platform::ScopedInProcessBackend backend_;
    std::shared_ptr<sim::Camera> camera_;
    quorbit::CardSession session_;
};

// The picture of one of the library's bitmap files.
quorbit_gphoto::RgbPicture PictureOfBitmap(const std::vector<uint8_t>& file);
// The library's bitmap of photo `index` on the session's card, as a picture.
quorbit_gphoto::RgbPicture LibraryPicture(quorbit::CardSession& session, int index);
// Both cards hold the same bytes.
bool SameCard(const sim::Camera& a, const sim::Camera& b);

// The camera of the variant with n test photos, and an identical twin.
struct CameraPair {
    std::shared_ptr<sim::Camera> plugged;
    std::shared_ptr<sim::Camera> twin;
};
CameraPair MakeCameraPair(sim::Variant variant, int photos);
std::shared_ptr<sim::Camera> MakeBlankCamera(sim::Variant variant);

// The udev properties a real system gives the camera (its rules and
// hardware database): what desktop programs look for.
std::vector<std::string> DesktopUdevProperties();

// "usb:001,007" for the device's node.
std::string GphotoPortOf(const usbtest::MockUsbDevice& device);

// A libgphoto2 camera opened on the port with our driver's model.
class GpCamera {
  public:
    GpCamera() = default;
    ~GpCamera();
    GpCamera(const GpCamera&) = delete;
    GpCamera& operator=(const GpCamera&) = delete;
    // gp_camera_init's result.
    int Open(const std::string& port, Context& context);
    Camera* get() const { return camera_; }

    // In the photo folder unless another folder is given.
    std::vector<std::string> ListFiles(Context& context, int* result = nullptr,
                                       const char* folder = quorbit_gphoto::kPhotoFolder);
    std::vector<std::string> ListFolders(const char* folder, Context& context,
                                         int* result = nullptr);
    // The file's bytes, or empty with *result set.
    std::vector<uint8_t> Get(const std::string& name, CameraFileType type, Context& context,
                             int* result = nullptr,
                             const char* folder = quorbit_gphoto::kPhotoFolder);
    int Put(const std::string& name, const std::vector<uint8_t>& bytes, Context& context,
            const char* folder = quorbit_gphoto::kPhotoFolder);
    int Delete(const std::string& name, Context& context,
               const char* folder = quorbit_gphoto::kPhotoFolder);

  private:
    Camera* camera_ = nullptr;
};

// The folder of our built driver (CAMLIBS).
std::string DriverFolder();

// For a test program's whole run: libgphoto2 loads only our driver, and the
// emulated USB bus is up before the first test.
class DriverOnBusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override;
};

}  // namespace gphototest
