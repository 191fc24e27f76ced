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
#include <ctime>
#include <map>
#include <new>
#include <string>

#include "cardlib/card_layout.h"
#include "gphoto/camera_config.h"
#include "gphoto/camera_layout.h"
#include "gphoto/camera_texts.h"
#include "gphoto/photo_card.h"
#include "gphoto/port_device.h"
#include "platform/clock.h"
#include "platform/report.h"

struct _CameraPrivateLibrary {
    quorbit_gphoto::PhotoCard card;
    // Set when the photo set changed; the cached file list is dropped once
    // the operation is over (see AfterOperation).
    bool listing_changed = false;
    // The date every photo carries: the card keeps no time, so the photos
    // of one session are dated when the camera was connected (not 1970,
    // which would sort them as the oldest files of the user's library).
    time_t connected_at = 0;
    // Files of kPlaceholderBytes put into the photo folder, by name.
    // gphotofs creates a file by putting a one-byte placeholder, then deletes
    // it and puts the picture under the same name: the placeholder is listed
    // for the session (it is what the program just made) but never reaches
    // the card. An empty file is refused like any file that is no picture.
    std::map<std::string, std::vector<uint8_t>, std::less<>> placeholders;
};

namespace quorbit_gphoto {
namespace {

constexpr char kModel[] = "Orvanta Photo Camera";
constexpr int kVendorId = 0x5A17;
constexpr int kProductId = 0xC3E2;
constexpr char kBaseFolder[] = "/";
constexpr char kNotRecognised[] =
    "The camera's card is not formatted or not recognised: no photos can be shown. "
    "Format it with \"quorbit-cli format SIZE\" (SIZE 8, 16, 32, 64 or 128 MB; this erases "
    "the card's photo list).";
constexpr int kPreviewQuality = 85;
constexpr unsigned long kPlaceholderBytes = 1;  // gphotofs's; no picture file is that small

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

// A file of the folder, or GP_ERROR_FILE_NOT_FOUND (or
// GP_ERROR_DIRECTORY_NOT_FOUND for a folder the camera does not have).
int FindPhoto(const DriverCall& call, const char* folder, const char* name, PhotoFile* out) {
    const std::optional<Folder> where = FolderOf(folder);
    if (!where)
        return GP_ERROR_DIRECTORY_NOT_FOUND;
    if (*where != Folder::kPhotos || call.card() == nullptr || name == nullptr)
        return GP_ERROR_FILE_NOT_FOUND;
    const std::optional<PhotoFile> found = call.card()->Find(name);
    if (!found)
        return GP_ERROR_FILE_NOT_FOUND;
    *out = *found;
    return GP_OK;
}

// The placeholder of that name in the folder, or null.
const std::vector<uint8_t>* FindPlaceholder(Camera* camera, const char* folder, const char* name) {
    if (camera->pl == nullptr || name == nullptr || FolderOf(folder) != Folder::kPhotos)
        return nullptr;
    const auto found = camera->pl->placeholders.find(std::string_view(name));
    return found != camera->pl->placeholders.end() ? &found->second : nullptr;
}

int ListFiles(CameraFilesystem*, const char* folder, CameraList* list, void* data,
              GPContext* context) {
    return Guarded(context, [&] {
        const std::optional<Folder> where = FolderOf(folder);
        if (!where)
            return GP_ERROR_DIRECTORY_NOT_FOUND;
        if (*where != Folder::kPhotos)
            return GP_OK;
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
        for (const auto& [name, bytes] : static_cast<Camera*>(data)->pl->placeholders) {
            if (const int r = gp_list_append(list, name.c_str(), nullptr); r < GP_OK)
                return r;
        }
        return GP_OK;
    });
}

int ListFolders(CameraFilesystem*, const char* folder, CameraList* list, void*,
                GPContext* context) {
    return Guarded(context, [&] {
        const std::optional<Folder> where = FolderOf(folder);
        if (!where)
            return GP_ERROR_DIRECTORY_NOT_FOUND;
        for (const std::string& name : SubfoldersOf(*where)) {
            if (const int r = gp_list_append(list, name.c_str(), nullptr); r < GP_OK)
                return r;
        }
        return GP_OK;
    });
}

int GetInfo(CameraFilesystem*, const char* folder, const char* name, CameraFileInfo* info,
            void* data, GPContext* context) {
    return Guarded(context, [&] {
        Camera* camera = static_cast<Camera*>(data);
        DriverCall call(camera, context);
        std::memset(info, 0, sizeof *info);
        if (const std::vector<uint8_t>* placeholder = FindPlaceholder(camera, folder, name)) {
            info->file.fields = static_cast<CameraFileInfoFields>(
                GP_FILE_INFO_SIZE | GP_FILE_INFO_PERMISSIONS | GP_FILE_INFO_MTIME);
            info->file.size = placeholder->size();
            info->file.permissions =
                static_cast<CameraFilePermissions>(GP_FILE_PERM_READ | GP_FILE_PERM_DELETE);
            info->file.mtime = camera->pl->connected_at;
            return GP_OK;
        }
        PhotoFile photo;
        if (const int r = FindPhoto(call, folder, name, &photo); r != GP_OK)
            return r;
        info->file.fields = static_cast<CameraFileInfoFields>(
            GP_FILE_INFO_TYPE | GP_FILE_INFO_SIZE | GP_FILE_INFO_WIDTH | GP_FILE_INFO_HEIGHT |
            GP_FILE_INFO_PERMISSIONS | GP_FILE_INFO_MTIME);
        std::snprintf(info->file.type, sizeof info->file.type, "%s", GP_MIME_PNG);
        info->file.size = PhotoPngBytes(quorbit::kPhotoWidth, quorbit::kPhotoHeight);
        info->file.width = quorbit::kPhotoWidth;
        info->file.height = quorbit::kPhotoHeight;
        info->file.permissions =
            static_cast<CameraFilePermissions>(GP_FILE_PERM_READ | GP_FILE_PERM_DELETE);
        info->file.mtime = static_cast<Camera*>(data)->pl->connected_at;
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
        if (const std::vector<uint8_t>* placeholder =
                FindPlaceholder(static_cast<Camera*>(data), folder, name)) {
            if (type != GP_FILE_TYPE_NORMAL)
                return GP_ERROR_NOT_SUPPORTED;
            return gp_file_append(file, reinterpret_cast<const char*>(placeholder->data()),
                                  placeholder->size());
        }
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
        gp_file_set_mtime(file, static_cast<Camera*>(data)->pl->connected_at);
        return gp_file_append(file, reinterpret_cast<const char*>(bytes.data()),
                              static_cast<unsigned long>(bytes.size()));
    });
}

int DeleteFile(CameraFilesystem*, const char* folder, const char* name, void* data,
               GPContext* context) {
    return Guarded(context, [&] {
        DriverCall call(static_cast<Camera*>(data), context);
        if (FindPlaceholder(static_cast<Camera*>(data), folder, name) != nullptr) {
            static_cast<Camera*>(data)->pl->placeholders.erase(std::string(name));
            static_cast<Camera*>(data)->pl->listing_changed = true;
            return GP_OK;
        }
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

int PutFile(CameraFilesystem*, const char* folder, const char* name, CameraFileType type,
            CameraFile* file, void* data, GPContext* context) {
    return Guarded(context, [&] {
        // Whichever folder a picture is put in, it lands in the photo folder.
        if (!FolderOf(folder))
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
        // A picture put into the photo folder keeps its name for the rest
        // of the session (libgphoto2 lists it under that name at once).
        const bool named = *FolderOf(folder) == Folder::kPhotos && name != nullptr;
        _CameraPrivateLibrary& pl = *static_cast<Camera*>(data)->pl;
        const bool replaces_placeholder = named && pl.placeholders.contains(std::string_view(name));
        if (named && size == kPlaceholderBytes) {
            if (!replaces_placeholder) {
                if (const std::string why = call.card()->UploadRefusal(name); !why.empty())
                    return call.Error(GP_ERROR_BAD_PARAMETERS, why);
            }
            pl.placeholders[name].assign(bytes, bytes + size);
            pl.listing_changed = true;
            return GP_OK;
        }
        const PhotoCard::UploadResult added = call.card()->Upload(
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes), size),
            named ? name : "");
        if (!added.file)
            return call.Error(added.refused ? GP_ERROR_BAD_PARAMETERS : GP_ERROR_IO_WRITE,
                              added.error);
        if (replaces_placeholder)
            pl.placeholders.erase(std::string(name));
        pl.listing_changed = true;
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
        int fields = GP_STORAGEINFO_BASE | GP_STORAGEINFO_LABEL | GP_STORAGEINFO_DESCRIPTION |
                     GP_STORAGEINFO_ACCESS | GP_STORAGEINFO_STORAGETYPE |
                     GP_STORAGEINFO_FILESYSTEMTYPE;
        std::snprintf(info->basedir, sizeof info->basedir, "%s", kBaseFolder);
        info->type = GP_STORAGEINFO_ST_REMOVABLE_RAM;
        info->fstype = GP_STORAGEINFO_FST_GENERICFLAT;
        if (status.recognised) {
            std::snprintf(info->label, sizeof info->label, "%d MB card", status.size_mb);
            std::snprintf(info->description, sizeof info->description, "%s",
                          UsageText(status).c_str());
            info->access = GP_STORAGEINFO_AC_READWRITE;
            fields |= GP_STORAGEINFO_MAXCAPACITY | GP_STORAGEINFO_FREESPACEKBYTES |
                      GP_STORAGEINFO_FREESPACEIMAGES;
            info->capacitykbytes = static_cast<uint64_t>(status.slots) * slot_kb;
            info->freekbytes = static_cast<uint64_t>(status.free_slots()) * slot_kb;
            info->freeimages = static_cast<uint64_t>(status.free_slots());
        } else {
            // The camera cannot tell the size of a card without a directory,
            // so none is claimed: a capacity of 0 would make the desktop
            // hide the camera, and with it this description.
            std::snprintf(info->label, sizeof info->label, "card not formatted");
            std::snprintf(info->description, sizeof info->description, "%s", kNotRecognised);
            info->access = GP_STORAGEINFO_AC_READONLY;
        }
        info->fields = static_cast<CameraStorageInfoFields>(fields);
        *infos = info;
        *count = 1;
        return GP_OK;
    });
}

int Summary(Camera* camera, CameraText* summary, GPContext* context) {
    return Guarded(context, [&] {
        DriverCall call(camera, context);
        const CardStatus status = call.card() != nullptr ? call.card()->Status() : CardStatus{};
        if (!status.recognised) {
            std::snprintf(summary->text, sizeof summary->text, "%s\n", kNotRecognised);
            return GP_OK;
        }
        std::snprintf(summary->text, sizeof summary->text, "%s\n%s\n", CardKindText(status).c_str(),
                      UsageText(status).c_str());
        return GP_OK;
    });
}

int GetConfig(Camera* camera, CameraWidget** window, GPContext* context) {
    return Guarded(context, [&] {
        DriverCall call(camera, context);
        const CardStatus status = call.card() != nullptr ? call.card()->Status() : CardStatus{};
        return MakeConfigWindow(status, window);
    });
}

int About(Camera*, CameraText* about, GPContext*) {
    std::snprintf(about->text, sizeof about->text,
                  "%s: the photos on the camera's card are PNG files in %s, named after the "
                  "slot that holds them (%s is slot 7). They are dated when the camera was "
                  "connected: the card keeps no time. Upload takes PNG, JPEG and BMP pictures, "
                  "fitted to 322 x 242.\n",
                  kModel, kPhotoFolder, PhotoFileName(7).c_str());
    return GP_OK;
}

// After an upload libgphoto2 adds the uploaded name to its cached list of
// the folder it was put in; a picture put into another folder lands in the
// photo folder under its own name, and a deletion frees a name. The cache
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
        camera->functions->get_config = GetConfig;
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
        camera->pl->connected_at = std::time(nullptr);
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
