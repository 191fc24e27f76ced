// The camera in GNOME Files' path: gvfs and gio in a private D-Bus session
// against quorbit-cli get-all, one after the other on the same camera on the
// same emulated USB bus (the camera carrying the udev properties a real
// system gives it). Prints the time of a detailed listing of the photo
// folder (no photo is read for it) and of one `gio copy` of every photo,
// and the ratio of that copy to `quorbit-cli get-all` of the same photos.
//
//   umockdev-wrapper build/bench/gphoto_gio_copy [photos]  (default 52: a full 16 MB card)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "gphoto/tests/gphoto_rig.h"
#include "platform/usb/tests/mock_usb_bus.h"
#include "platform/usb/tests/usb_bus_fixture.h"
#include "sim/camera.h"
#include "tools/tests/process.h"

int main(int argc, char** argv) {
    const int photos = argc > 1 ? std::atoi(argv[1]) : 52;
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::string(preload).find("umockdev") == std::string::npos) {
        std::fprintf(stderr, "run under umockdev-wrapper\n");
        return 2;
    }
    namespace fs = std::filesystem;
    const std::string scratch =
        (fs::temp_directory_path() / ("gphoto-gio-bench-" + std::to_string(::getpid()))).string();
    fs::create_directories(scratch + "/runtime");
    fs::permissions(scratch + "/runtime", fs::perms::owner_all);
    fs::create_directories(scratch + "/gio");
    fs::create_directories(scratch + "/cli");
    usbtest::MockUsbBus bus;
    usbtest::PlugOptions options;
    options.port = "2";
    options.udev_properties = gphototest::DesktopUdevProperties();
    usbtest::MockUsbDevice& device =
        bus.Plug(usbtest::MakeCamera(sim::Variant::k16MbLe, photos), options);

    const testproc::Result gio = testproc::Run(
        {"dbus-run-session", "--", "bash", QUORBIT_GVFS_TIMING_SCRIPT, scratch + "/gio"}, 900,
        {"CAMLIBS=" QUORBIT_GPHOTO_CAMLIBS, "HOME=" + scratch,
         "XDG_RUNTIME_DIR=" + scratch + "/runtime", "XDG_CONFIG_HOME=" + scratch + "/config",
         "XDG_DATA_HOME=" + scratch + "/data", "XDG_CACHE_HOME=" + scratch + "/cache", "LC_ALL=C",
         "-DISPLAY", "-DBUS_SESSION_BUS_ADDRESS", "GIO_USE_VFS=gvfs"});
    double list_s = 0;
    double copy_s = 0;
    int copied = 0;
    std::istringstream lines(gio.out);
    for (std::string word; lines >> word;) {
        if (word == "list")
            lines >> list_s;
        else if (word == "copy")
            lines >> copy_s >> copied;
    }
    if (gio.status != 0 || copied != photos) {
        std::fprintf(stderr, "gio failed (%d, %d photos copied):\n%s%s\n", gio.status, copied,
                     gio.out.c_str(), gio.err.c_str());
        return 1;
    }

    const int gio_reads = device.counters().bulk_in;
    const auto start = std::chrono::steady_clock::now();
    const testproc::Result cli =
        testproc::Run({QUORBIT_CLI, "--library", QUORBIT_LIBRARY, "get-all", scratch + "/cli"}, 900,
                      {"HOME=" + scratch, "LC_ALL=C", "CAMSIM_DIR=" + scratch + "/camsim"});
    const double cli_s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (cli.status != 0) {
        std::fprintf(stderr, "quorbit-cli failed:\n%s%s\n", cli.out.c_str(), cli.err.c_str());
        return 1;
    }
    const int cli_reads = device.counters().bulk_in - gio_reads;
    bus.Unplug(device);
    std::printf("16MbLe card, %d photos\n", photos);
    std::printf("gio list of the photo folder (size, date): %8.3f s\n", list_s);
    std::printf("gio copy of every photo:                   %8.2f s\n", copy_s);
    std::printf("quorbit-cli get-all:                       %8.2f s\n", cli_s);
    std::printf("ratio gio copy / get-all:                  %8.3f\n", copy_s / cli_s);
    std::printf("bulk reads: gio session %d, get-all %d\n", gio_reads, cli_reads);
    fs::remove_all(scratch);
    return 0;
}
