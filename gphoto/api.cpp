// The libgphoto2 entry points of the driver and its filesystem functions.
//
// Every function libgphoto2 calls runs inside a DriverCall: for its duration
// the card library's error texts go to the caller's context as errors (not
// to stderr) and the library's progress reaches the context's progress bar.
// Nothing is thrown across the C interface.
#include <gphoto2/gphoto2-camera.h>
// The three entry points are the module's only visible symbols (the rest is
// built hidden; the version script hides what the static libraries bring).
#pragma GCC visibility push(default)
#include <gphoto2/gphoto2-library.h>
#pragma GCC visibility pop
#include <gphoto2/gphoto2-port-log.h>
#include <gphoto2/gphoto2-port-result.h>
#include <gphoto2/gphoto2-result.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "cardlib/card_layout.h"
#include "cardlib/strings.h"
#include "gphoto/photo_card.h"
#include "gphoto/port_device.h"
#include "platform/clock.h"
#include "platform/report.h"

struct _CameraPrivateLibrary {
    quorbit_gphoto::PhotoCard card;
    // Set when the photo set changed; the cached file list is dropped once
    // the operation is over (see AfterOperation).
    bool listing_changed = false;
};

namespace quorbit_gphoto {
namespace {

constexpr char kModel[] = "Orvanta Photo Camera";
constexpr int kVendorId = 0x5A17;
constexpr int kProductId = 0xC3E2;
constexpr char kFolder[] = "/";
constexpr char kNotRecognised[] =
    "The camera's card is not formatted or not recognised: no photos can be shown. "
    "Format it with \"quorbit-cli format\" (this erases the card's photo list).";
constexpr int kPreviewQuality = 85;
constexpr int kTextUsage = 2;  // "%d is used up %d is available"

// The context of the driver call running on this thread, for the card
// library's progress functions (plain function pointers without data).
thread_local GPContext* t_progress_context = nullptr;
thread_local unsigned t_progress_id = 0;
thread_local float t_progress_done = 0;
thread_local bool t_progress_started = false;

void StopProgress() {
    if (t_progress_context != nullptr && t_progress_started)
        gp_context_progress_stop(t_progress_context, t_progress_id);
    t_progress_started = false;
}

void BeginProgress(int32_t steps) {
    if (t_progress_context == nullptr)
        return;
    StopProgress();
    t_progress_started = true;
    t_progress_done = 0;
    t_progress_id = gp_context_progress_start(t_progress_context, static_cast<float>(steps),
                                              "Transferring with the camera");
}

void StepProgress() {
    if (t_progress_context == nullptr)
        return;
    t_progress_done += 1;
    gp_context_progress_update(t_progress_context, t_progress_id, t_progress_done);
}

class DriverCall {
  public:
    DriverCall(Camera* camera, GPContext* context) : camera_(camera), context_(context) {
        previous_ = platform::SetErrorReporter([context](std::string_view, std::string_view text) {
            const std::string line(text);
            gp_context_error(context, "%s", line.c_str());
        });
        t_progress_context = context;
        if (card() != nullptr) {
            card()->session().begin = BeginProgress;
            card()->session().step = StepProgress;
        }
    }
    ~DriverCall() {
        if (card() != nullptr) {
            card()->session().begin = nullptr;
            card()->session().step = nullptr;
        }
        StopProgress();
        t_progress_context = nullptr;
        platform::SetErrorReporter(std::move(previous_));
    }
    DriverCall(const DriverCall&) = delete;
    DriverCall& operator=(const DriverCall&) = delete;

    PhotoCard* card() const { return camera_->pl != nullptr ? &camera_->pl->card : nullptr; }
    int Error(int code, const std::string& text) const {
        gp_context_error(context_, "%s", text.c_str());
        return code;
    }

  private:
    Camera* camera_;
    GPContext* context_;
    platform::ErrorReporter previous_;
    // Once for the operation rather than once for each of its pauses.
    platform::LowTimerSlack slack_;
};

// Runs body, turning an exception into a plain error result.
template <typename Body>
int Guarded(GPContext* context, Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return GP_ERROR_NO_MEMORY;
    } catch (...) {
        gp_context_error(context, "internal error in the camera driver");
        return GP_ERROR;
    }
}

int CheckFolder(const char* folder) {
    return folder != nullptr && std::strcmp(folder, kFolder) == 0 ? GP_OK
                                                                  : GP_ERROR_DIRECTORY_NOT_FOUND;
}

// A file of the folder, or GP_ERROR_FILE_NOT_FOUND.
int FindPhoto(const DriverCall& call, const char* folder, const char* name, PhotoFile* out) {
    if (CheckFolder(folder) != GP_OK)
        return GP_ERROR_DIRECTORY_NOT_FOUND;
    if (call.card() == nullptr || name == nullptr)
        return GP_ERROR_FILE_NOT_FOUND;
    const std::optional<PhotoFile> found = call.card()->Find(name);
    if (!found)
        return GP_ERROR_FILE_NOT_FOUND;
    *out = *found;
    return GP_OK;
}

int ListFiles(CameraFilesystem*, const char* folder, CameraList* list, void* data,
              GPContext* context) {
    return Guarded(context, [&] {
        if (CheckFolder(folder) != GP_OK)
            return GP_ERROR_DIRECTORY_NOT_FOUND;
        DriverCall call(static_cast<Camera*>(data), context);
        if (call.card() == nullptr || !call.card()->Status().recognised) {
            gp_context_message(context, kNotRecognised);
            return GP_OK;
        }
        for (const PhotoFile& f : call.card()->List()) {
            const int r = gp_list_append(list, f.name.c_str(), nullptr);
            if (r < GP_OK)
                return r;
        }
        return GP_OK;
    });
}

int ListFolders(CameraFilesystem*, const char* folder, CameraList*, void*, GPContext* context) {
    return Guarded(context, [&] { return CheckFolder(folder); });
}

int GetInfo(CameraFilesystem*, const char* folder, const char* name, CameraFileInfo* info,
            void* data, GPContext* context) {
    return Guarded(context, [&] {
        DriverCall call(static_cast<Camera*>(data), context);
        PhotoFile photo;
        if (const int r = FindPhoto(call, folder, name, &photo); r != GP_OK)
            return r;
        std::memset(info, 0, sizeof *info);
        info->file.fields = static_cast<CameraFileInfoFields>(
            GP_FILE_INFO_TYPE | GP_FILE_INFO_SIZE | GP_FILE_INFO_WIDTH | GP_FILE_INFO_HEIGHT |
            GP_FILE_INFO_PERMISSIONS);
        std::snprintf(info->file.type, sizeof info->file.type, "%s", GP_MIME_PNG);
        info->file.size = PhotoPngBytes(quorbit::kPhotoWidth, quorbit::kPhotoHeight);
        info->file.width = quorbit::kPhotoWidth;
        info->file.height = quorbit::kPhotoHeight;
        info->file.permissions =
            static_cast<CameraFilePermissions>(GP_FILE_PERM_READ | GP_FILE_PERM_DELETE);
        info->preview.fields = static_cast<CameraFileInfoFields>(
            GP_FILE_INFO_TYPE | GP_FILE_INFO_WIDTH | GP_FILE_INFO_HEIGHT);
        std::snprintf(info->preview.type, sizeof info->preview.type, "%s", GP_MIME_JPEG);
        info->preview.width = (quorbit::kPhotoWidth + 1) / 2;
        info->preview.height = (quorbit::kPhotoHeight + 1) / 2;
        return GP_OK;
    });
}

int GetFile(CameraFilesystem*, const char* folder, const char* name, CameraFileType type,
            CameraFile* file, void* data, GPContext* context) {
    return Guarded(context, [&] {
        DriverCall call(static_cast<Camera*>(data), context);
        PhotoFile photo;
        if (const int r = FindPhoto(call, folder, name, &photo); r != GP_OK)
            return r;
        if (type != GP_FILE_TYPE_NORMAL && type != GP_FILE_TYPE_PREVIEW)
            return GP_ERROR_NOT_SUPPORTED;
        std::string error;
        const std::optional<RgbPicture> picture = call.card()->ReadPhoto(photo, &error);
        if (!picture)
            return call.Error(GP_ERROR_IO_READ, error);
        const bool preview = type == GP_FILE_TYPE_PREVIEW;
        const std::vector<uint8_t> bytes =
            preview ? EncodeJpeg(HalfSize(*picture), kPreviewQuality) : PhotoPng(*picture);
        if (bytes.empty())
            return call.Error(GP_ERROR, "cannot encode " + photo.name);
        gp_file_set_mime_type(file, preview ? GP_MIME_JPEG : GP_MIME_PNG);
        return gp_file_append(file, reinterpret_cast<const char*>(bytes.data()),
                              static_cast<unsigned long>(bytes.size()));
    });
}

int DeleteFile(CameraFilesystem*, const char* folder, const char* name, void* data,
               GPContext* context) {
    return Guarded(context, [&] {
        DriverCall call(static_cast<Camera*>(data), context);
        PhotoFile photo;
        if (const int r = FindPhoto(call, folder, name, &photo); r != GP_OK)
            return r;
        std::string error;
        if (!call.card()->Delete(photo, &error))
            return call.Error(GP_ERROR_IO_WRITE, error);
        static_cast<Camera*>(data)->pl->listing_changed = true;
        return GP_OK;
    });
}

int PutFile(CameraFilesystem*, const char* folder, const char*, CameraFileType type,
            CameraFile* file, void* data, GPContext* context) {
    return Guarded(context, [&] {
        if (CheckFolder(folder) != GP_OK)
            return GP_ERROR_DIRECTORY_NOT_FOUND;
        DriverCall call(static_cast<Camera*>(data), context);
        if (type != GP_FILE_TYPE_NORMAL)
            return GP_ERROR_NOT_SUPPORTED;
        if (call.card() == nullptr)
            return GP_ERROR_CAMERA_ERROR;
        const char* bytes = nullptr;
        unsigned long size = 0;
        if (const int r = gp_file_get_data_and_size(file, &bytes, &size); r < GP_OK)
            return r;
        const PhotoCard::UploadResult added = call.card()->Upload(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes), size));
        if (!added.file)
            return call.Error(added.refused ? GP_ERROR_BAD_PARAMETERS : GP_ERROR_IO_WRITE,
                              added.error);
        static_cast<Camera*>(data)->pl->listing_changed = true;
        return GP_OK;
    });
}

int StorageInfo(CameraFilesystem*, CameraStorageInformation** infos, int* count, void* data,
                GPContext* context) {
    return Guarded(context, [&] {
        DriverCall call(static_cast<Camera*>(data), context);
        // libgphoto2 frees the array with free().
        auto* info = static_cast<CameraStorageInformation*>(
            std::calloc(1, sizeof(CameraStorageInformation)));
        if (info == nullptr)
            return GP_ERROR_NO_MEMORY;
        const CardStatus status = call.card() != nullptr ? call.card()->Status() : CardStatus{};
        const uint64_t slot_kb = quorbit::kPhotoSlotBytes / 1024;
        info->fields = static_cast<CameraStorageInfoFields>(
            GP_STORAGEINFO_BASE | GP_STORAGEINFO_LABEL | GP_STORAGEINFO_DESCRIPTION |
            GP_STORAGEINFO_ACCESS | GP_STORAGEINFO_STORAGETYPE | GP_STORAGEINFO_FILESYSTEMTYPE |
            GP_STORAGEINFO_MAXCAPACITY | GP_STORAGEINFO_FREESPACEKBYTES |
            GP_STORAGEINFO_FREESPACEIMAGES);
        std::snprintf(info->basedir, sizeof info->basedir, "%s", kFolder);
        if (status.recognised) {
            std::snprintf(info->label, sizeof info->label, "%d MB card", status.size_mb);
            std::snprintf(info->description, sizeof info->description,
                          "%d photo slots, %d used, %d free", status.slots, status.photos,
                          status.free_slots());
        } else {
            std::snprintf(info->label, sizeof info->label, "card not recognised");
            std::snprintf(info->description, sizeof info->description, "%s", kNotRecognised);
        }
        info->type = GP_STORAGEINFO_ST_REMOVABLE_RAM;
        info->fstype = GP_STORAGEINFO_FST_GENERICFLAT;
        info->access = status.recognised ? GP_STORAGEINFO_AC_READWRITE : GP_STORAGEINFO_AC_READONLY;
        info->capacitykbytes = static_cast<uint64_t>(status.slots) * slot_kb;
        info->freekbytes = static_cast<uint64_t>(status.free_slots()) * slot_kb;
        info->freeimages = static_cast<uint64_t>(status.free_slots());
        *infos = info;
        *count = 1;
        return GP_OK;
    });
}

// Text 2 of the library's table with the two numbers put in.
std::string UsageText(int used, int available) {
    std::string text = quorbit::LocalisedText(kTextUsage).value_or("%d is used up %d is available");
    for (int value : {used, available}) {
        const size_t at = text.find("%d");
        if (at == std::string::npos)
            break;
        text.replace(at, 2, std::to_string(value));
    }
    return text;
}

int Summary(Camera* camera, CameraText* summary, GPContext* context) {
    return Guarded(context, [&] {
        DriverCall call(camera, context);
        const CardStatus status = call.card() != nullptr ? call.card()->Status() : CardStatus{};
        if (!status.recognised) {
            std::snprintf(summary->text, sizeof summary->text, "%s\n", kNotRecognised);
            return GP_OK;
        }
        std::snprintf(summary->text, sizeof summary->text,
                      "Card size: %d MB\nPhotos: %d\nFree slots: %d\n%s\n", status.size_mb,
                      status.photos, status.free_slots(),
                      UsageText(status.photos, status.free_slots()).c_str());
        return GP_OK;
    });
}

int About(Camera*, CameraText* about, GPContext*) {
    std::snprintf(about->text, sizeof about->text,
                  "%s: photos in the camera's raw flash card as PNG files named after their "
                  "slot (slot-000.png, ...); upload takes PNG, JPEG and BMP pictures, fitted to "
                  "322 x 242.\n",
                  kModel);
    return GP_OK;
}

// After an upload libgphoto2 adds the name the picture had on the computer
// to its cached list, and the photo's real name is another one. The cache
// cannot be dropped inside the filesystem function (libgphoto2 still works
// on it when the function returns); once the whole operation is over it can,
// and the next listing asks the card again.
int AfterOperation(Camera* camera, GPContext*) {
    if (camera->pl != nullptr && camera->pl->listing_changed) {
        camera->pl->listing_changed = false;
        return gp_filesystem_reset(camera->fs);
    }
    return GP_OK;
}

int Exit(Camera* camera, GPContext* context) {
    return Guarded(context, [&] {
        delete camera->pl;
        camera->pl = nullptr;
        return GP_OK;
    });
}

CameraFilesystemFuncs MakeFilesystemFuncs() {
    CameraFilesystemFuncs funcs{};
    funcs.file_list_func = ListFiles;
    funcs.folder_list_func = ListFolders;
    funcs.get_info_func = GetInfo;
    funcs.get_file_func = GetFile;
    funcs.del_file_func = DeleteFile;
    funcs.put_file_func = PutFile;
    funcs.storage_info_func = StorageInfo;
    return funcs;
}

CameraFilesystemFuncs g_filesystem_funcs = MakeFilesystemFuncs();

}  // namespace
}  // namespace quorbit_gphoto

using namespace quorbit_gphoto;

#pragma GCC visibility push(default)
extern "C" {

int camera_id(CameraText* id) {
    std::snprintf(id->text, sizeof id->text, "quorbit");
    return GP_OK;
}

int camera_abilities(CameraAbilitiesList* list) {
    CameraAbilities a;
    std::memset(&a, 0, sizeof a);
    std::snprintf(a.model, sizeof a.model, "%s", kModel);
    a.status = GP_DRIVER_STATUS_PRODUCTION;
    a.port = GP_PORT_USB;
    a.usb_vendor = kVendorId;
    a.usb_product = kProductId;
    a.operations = GP_OPERATION_NONE;
    a.file_operations =
        static_cast<CameraFileOperation>(GP_FILE_OPERATION_DELETE | GP_FILE_OPERATION_PREVIEW);
    a.folder_operations = GP_FOLDER_OPERATION_PUT_FILE;
    a.device_type = GP_DEVICE_STILL_CAMERA;
    return gp_abilities_list_append(list, a);
}

int camera_init(Camera* camera, GPContext* context) {
    return Guarded(context, [&] {
        camera->functions->summary = Summary;
        camera->functions->about = About;
        camera->functions->exit = Exit;
        camera->functions->post_func = AfterOperation;

        GPPortSettings settings;
        if (const int r = gp_port_get_settings(camera->port, &settings); r < GP_OK)
            return r;
        if (const int r =
                gp_port_set_timeout(camera->port, static_cast<int>(kTransferTimeout.count()));
            r < GP_OK) {
            return r;
        }
        camera->pl = new _CameraPrivateLibrary;
        const auto fail = [camera](int code) {
            delete camera->pl;
            camera->pl = nullptr;
            return code;
        };
        if (const int r = gp_filesystem_set_funcs(camera->fs, &g_filesystem_funcs, camera);
            r < GP_OK) {
            return fail(r);
        }

        DriverCall call(camera, context);
        platform::DeviceAttributes attributes;
        attributes.vendor_id = kVendorId;
        attributes.product_id = kProductId;
        auto device = std::make_unique<PortDevice>(camera->port, attributes);
        PortDevice* port = device.get();
        if (!call.card()->Open(std::move(device))) {
            if (port->gone())
                return fail(call.Error(GP_ERROR_IO_USB_FIND, "the camera left the bus"));
            gp_context_message(context, kNotRecognised);
        }
        return GP_OK;
    });
}

}  // extern "C"
#pragma GCC visibility pop
