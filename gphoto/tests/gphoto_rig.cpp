#include "gphoto/tests/gphoto_rig.h"

#include <gphoto2/gphoto2-abilities-list.h>
#include <gphoto2/gphoto2-file.h>
#include <gphoto2/gphoto2-list.h>
#include <gphoto2/gphoto2-port-info-list.h>
#include <gphoto2/gphoto2-result.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "cardlib/photo_io.h"
#include "cardlib/tests/test_support.h"
#include "platform/clock.h"
#include "sim/card_maker.h"
#include "testsupport/recording_clock.h"

namespace quorbit_gphoto {

std::optional<RgbPicture> DecodePng(std::span<const uint8_t> file, int width, int height) {
    std::string error;
    std::optional<RgbPicture> decoded = picture::DecodePng(file, &error);
    if (!decoded || decoded->width != width || decoded->height != height)
        return std::nullopt;
    return decoded;
}

}  // namespace quorbit_gphoto

namespace gphototest {

Context::Context() : context_(gp_context_new()) {
    gp_context_set_error_func(
        context_,
        [](GPContext*, const char* text, void* self) {
            static_cast<Context*>(self)->errors_.emplace_back(text);
        },
        this);
    gp_context_set_message_func(
        context_,
        [](GPContext*, const char* text, void* self) {
            static_cast<Context*>(self)->messages_.emplace_back(text);
        },
        this);
}

Context::~Context() {
    gp_context_unref(context_);
}

std::string Context::AllErrors() const {
    std::string all;
    for (const std::string& e : errors_)
        all += e + "\n";
    return all;
}

Twin::Twin(std::shared_ptr<sim::Camera> camera) : camera_(std::move(camera)) {
    backend_.backend().Attach("twin", camera_);
    session_.device = platform::OpenPath("mem:twin").handle;
    // The twin needs the library's results, not its pauses.
    static testsupport::RecordingClock clock;
    platform::ScopedClock fast(&clock);
    EXPECT_EQ(quorbit::DetectGeometry(session_), 1);
}

Twin::~Twin() {
    session_.Close();
}

int Twin::Upload(const std::vector<uint8_t>& bitmap) {
    quorbit::testing::TempDir dir;
    quorbit::testing::WriteFileBytes(dir.File("upload.bmp"), bitmap);
    return quorbit::WriteFileToFlash(session_, dir.File("upload.bmp"));
}

quorbit_gphoto::RgbPicture PictureOfBitmap(const std::vector<uint8_t>& file) {
    quorbit_gphoto::RgbPicture picture(322, 242);
    if (file.size() != 234310) {
        ADD_FAILURE() << "not a bitmap of the library's: " << file.size() << " bytes";
        return picture;
    }
    for (int y = 0; y < 242; ++y) {
        for (int x = 0; x < 322; ++x) {
            const uint8_t* b = &file[54 + static_cast<size_t>(241 - y) * 968 + 3 * x];
            uint8_t* p = &picture.rgb[(static_cast<size_t>(y) * 322 + x) * 3];
            p[0] = b[2];
            p[1] = b[1];
            p[2] = b[0];
        }
    }
    return picture;
}

quorbit_gphoto::RgbPicture LibraryPicture(quorbit::CardSession& session, int index) {
    testsupport::RecordingClock clock;
    platform::ScopedClock fast(&clock);
    quorbit::testing::TempDir dir;
    EXPECT_EQ(quorbit::ReadPhotoToFile(session, index, dir.File("p.bmp")), 1);
    return PictureOfBitmap(quorbit::testing::ReadFileBytes(dir.File("p.bmp")));
}

bool SameCard(const sim::Camera& a, const sim::Camera& b) {
    const uint64_t size = a.geometry().card_bytes;
    if (b.geometry().card_bytes != size)
        return false;
    constexpr uint64_t kPiece = 4 << 20;
    for (uint64_t at = 0; at < size; at += kPiece) {
        const size_t n = static_cast<size_t>(std::min(kPiece, size - at));
        if (a.Peek(at, n) != b.Peek(at, n)) {
            ADD_FAILURE() << "the cards differ in the 4 MB from byte " << at;
            return false;
        }
    }
    return true;
}

CameraPair MakeCameraPair(sim::Variant variant, int photos) {
    std::vector<picture::Picture> pictures;
    for (int i = 0; i < photos; ++i)
        pictures.push_back(quorbit::testing::TestPicture(i));
    CameraPair pair;
    for (auto* camera : {&pair.plugged, &pair.twin}) {
        std::string error;
        std::unique_ptr<sim::CardImage> card = sim::MakeCardInMemory(variant, pictures, &error);
        EXPECT_TRUE(card) << error;
        *camera = std::make_shared<sim::Camera>(variant, std::move(card), sim::DefaultAttributes(),
                                                [](std::string_view) {});
    }
    return pair;
}

std::shared_ptr<sim::Camera> MakeBlankCamera(sim::Variant variant) {
    std::string error;
    std::unique_ptr<sim::CardImage> card =
        sim::CardImage::CreateInMemory(sim::GeometryOf(variant).card_bytes, &error);
    EXPECT_TRUE(card) << error;
    return std::make_shared<sim::Camera>(variant, std::move(card), sim::DefaultAttributes(),
                                         [](std::string_view) {});
}

std::vector<std::string> DesktopUdevProperties() {
    return {"ID_GPHOTO2=1",
            "GPHOTO2_DRIVER=proprietary",
            "ID_VENDOR=Orvanta",
            "ID_VENDOR_ENC=Orvanta",
            "ID_VENDOR_ID=5a17",
            "ID_MODEL=Photo_Camera",
            "ID_MODEL_ENC=Photo\\x20Camera",
            "ID_MODEL_ID=c3e2",
            "ID_VENDOR_FROM_DATABASE=Orvanta",
            "ID_MODEL_FROM_DATABASE=Photo Camera",
            "ID_SERIAL=Orvanta_Photo_Camera_CAMSIM0001",
            "ID_SERIAL_SHORT=CAMSIM0001",
            "ID_BUS=usb",
            "ID_USB_INTERFACES=:ff0000:"};
}

std::string GphotoPortOf(const usbtest::MockUsbDevice& device) {
    // "/dev/bus/usb/001/007"
    const std::string& node = device.devnode();
    const std::string bus = node.substr(node.size() - 7, 3);
    const std::string dev = node.substr(node.size() - 3);
    return "usb:" + bus + "," + dev;
}

GpCamera::~GpCamera() {
    if (camera_ != nullptr) {
        gp_camera_exit(camera_, nullptr);
        gp_camera_unref(camera_);
    }
}

int GpCamera::Open(const std::string& port, Context& context) {
    if (gp_camera_new(&camera_) < GP_OK)
        return GP_ERROR;
    CameraAbilitiesList* abilities = nullptr;
    gp_abilities_list_new(&abilities);
    gp_abilities_list_load(abilities, context.get());
    const int model = gp_abilities_list_lookup_model(abilities, "Orvanta Photo Camera");
    if (model < GP_OK) {
        gp_abilities_list_free(abilities);
        return model;
    }
    CameraAbilities a;
    gp_abilities_list_get_abilities(abilities, model, &a);
    gp_abilities_list_free(abilities);
    gp_camera_set_abilities(camera_, a);

    GPPortInfoList* ports = nullptr;
    gp_port_info_list_new(&ports);
    gp_port_info_list_load(ports);
    const int p = gp_port_info_list_lookup_path(ports, port.c_str());
    if (p < GP_OK) {
        gp_port_info_list_free(ports);
        return p;
    }
    GPPortInfo info;
    gp_port_info_list_get_info(ports, p, &info);
    gp_camera_set_port_info(camera_, info);
    gp_port_info_list_free(ports);
    return gp_camera_init(camera_, context.get());
}

namespace {

std::vector<std::string> NamesOf(CameraList* list) {
    std::vector<std::string> names;
    for (int i = 0; i < gp_list_count(list); ++i) {
        const char* name = nullptr;
        gp_list_get_name(list, i, &name);
        names.emplace_back(name);
    }
    return names;
}

}  // namespace

std::vector<std::string> GpCamera::ListFiles(Context& context, int* result, const char* folder) {
    CameraList* list = nullptr;
    gp_list_new(&list);
    const int r = gp_camera_folder_list_files(camera_, folder, list, context.get());
    if (result != nullptr)
        *result = r;
    std::vector<std::string> names = r >= GP_OK ? NamesOf(list) : std::vector<std::string>{};
    gp_list_free(list);
    return names;
}

std::vector<std::string> GpCamera::ListFolders(const char* folder, Context& context, int* result) {
    CameraList* list = nullptr;
    gp_list_new(&list);
    const int r = gp_camera_folder_list_folders(camera_, folder, list, context.get());
    if (result != nullptr)
        *result = r;
    std::vector<std::string> names = r >= GP_OK ? NamesOf(list) : std::vector<std::string>{};
    gp_list_free(list);
    return names;
}

std::vector<uint8_t> GpCamera::Get(const std::string& name, CameraFileType type, Context& context,
                                   int* result, const char* folder) {
    CameraFile* file = nullptr;
    gp_file_new(&file);
    const int r = gp_camera_file_get(camera_, folder, name.c_str(), type, file, context.get());
    if (result != nullptr)
        *result = r;
    std::vector<uint8_t> bytes;
    const char* data = nullptr;
    unsigned long size = 0;
    if (r >= GP_OK && gp_file_get_data_and_size(file, &data, &size) >= GP_OK)
        bytes.assign(data, data + size);
    gp_file_unref(file);
    return bytes;
}

int GpCamera::Put(const std::string& name, const std::vector<uint8_t>& bytes, Context& context,
                  const char* folder) {
    CameraFile* file = nullptr;
    gp_file_new(&file);
    gp_file_append(file, reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const int r = gp_camera_folder_put_file(camera_, folder, name.c_str(), GP_FILE_TYPE_NORMAL,
                                            file, context.get());
    gp_file_unref(file);
    return r;
}

int GpCamera::Delete(const std::string& name, Context& context, const char* folder) {
    return gp_camera_file_delete(camera_, folder, name.c_str(), context.get());
}

std::string DriverFolder() {
    return QUORBIT_GPHOTO_CAMLIBS;
}

void DriverOnBusEnvironment::SetUp() {
    ::setenv("CAMLIBS", DriverFolder().c_str(), 1);
    usbtest::Bus();
}

}  // namespace gphototest
