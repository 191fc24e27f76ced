// The camera in GNOME Files' path: gvfs and gio in a private D-Bus session
// against quorbit-cli get-all, one after the other on the same camera on the
// same emulated USB bus (the camera carrying the udev properties a real
// system gives it). Prints the time of a detailed listing of the photo
// folder (no photo is read for it) and of one `gio copy` of every photo,
// and the ratio of that copy to `quorbit-cli get-all` of the same photos.
//
//   umockdev-wrapper build/bench/gphoto_gio_copy [photos] [rounds]  (defaults 52, a full
//   16 MB card, and 2)
#include <algorithm>
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

namespace {

namespace fs = std::filesystem;

struct GioRun {
    double list_s = 0;
    double copy_s = 0;
    int copied = 0;
};

// One private D-Bus session with gvfs: a detailed listing, then one gio copy
// of every photo. Exits when it failed.
GioRun RunGio(const std::string& scratch, int photos) {
    fs::remove_all(scratch + "/gio");
    fs::create_directories(scratch + "/gio");
    const testproc::Result gio = testproc::Run(
        {"dbus-run-session", "--", "bash", QUORBIT_GVFS_TIMING_SCRIPT, scratch + "/gio"}, 900,
        {"CAMLIBS=" QUORBIT_GPHOTO_CAMLIBS, "HOME=" + scratch,
         "XDG_RUNTIME_DIR=" + scratch + "/runtime", "XDG_CONFIG_HOME=" + scratch + "/config",
         "XDG_DATA_HOME=" + scratch + "/data", "XDG_CACHE_HOME=" + scratch + "/cache", "LC_ALL=C",
         "-DISPLAY", "-DBUS_SESSION_BUS_ADDRESS", "GIO_USE_VFS=gvfs"});
    GioRun run;
    std::istringstream lines(gio.out);
    for (std::string word; lines >> word;) {
        if (word == "list")
            lines >> run.list_s;
        else if (word == "copy")
            lines >> run.copy_s >> run.copied;
    }
    if (gio.status != 0 || run.copied != photos) {
        std::fprintf(stderr, "gio failed (%d, %d photos copied):\n%s%s\n", gio.status, run.copied,
                     gio.out.c_str(), gio.err.c_str());
        std::exit(1);
    }
    return run;
}

// Seconds quorbit-cli get-all of every photo took. Exits when it failed.
double RunCli(const std::string& scratch) {
    fs::remove_all(scratch + "/cli");
    fs::create_directories(scratch + "/cli");
    const auto start = std::chrono::steady_clock::now();
    const testproc::Result cli =
        testproc::Run({QUORBIT_CLI, "--library", QUORBIT_LIBRARY, "get-all", scratch + "/cli"}, 900,
                      {"HOME=" + scratch, "LC_ALL=C", "CAMSIM_DIR=" + scratch + "/camsim"});
    if (cli.status != 0) {
        std::fprintf(stderr, "quorbit-cli failed:\n%s%s\n", cli.out.c_str(), cli.err.c_str());
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int photos = argc > 1 ? std::atoi(argv[1]) : 52;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::string(preload).find("umockdev") == std::string::npos) {
        std::fprintf(stderr, "run under umockdev-wrapper\n");
        return 2;
    }
    const std::string scratch =
        (fs::temp_directory_path() / ("gphoto-gio-bench-" + std::to_string(::getpid()))).string();
    fs::create_directories(scratch + "/runtime");
    fs::permissions(scratch + "/runtime", fs::perms::owner_all);
    usbtest::MockUsbBus bus;
    usbtest::PlugOptions options;
    options.port = "2";
    options.udev_properties = gphototest::DesktopUdevProperties();
    usbtest::MockUsbDevice& device =
        bus.Plug(usbtest::MakeCamera(sim::Variant::k16MbLe, photos), options);

    // The two take turns; the fastest run of each counts, so that other
    // load on the machine counts less.
    GioRun gio{1e9, 1e9, 0};
    double cli_s = 1e9;
    int gio_reads = 0;
    int cli_reads = 0;
    for (int round = 0; round < rounds; ++round) {
        const int before = device.counters().bulk_in;
        const GioRun run = RunGio(scratch, photos);
        gio.list_s = std::min(gio.list_s, run.list_s);
        gio.copy_s = std::min(gio.copy_s, run.copy_s);
        const int middle = device.counters().bulk_in;
        cli_s = std::min(cli_s, RunCli(scratch));
        gio_reads = middle - before;
        cli_reads = device.counters().bulk_in - middle;
    }
    bus.Unplug(device);
    std::printf("16MbLe card, %d photos (fastest of %d runs each)\n", photos, rounds);
    std::printf("gio list of the photo folder (size, date): %8.3f s\n", gio.list_s);
    std::printf("gio copy of every photo:                   %8.2f s\n", gio.copy_s);
    std::printf("quorbit-cli get-all:                       %8.2f s\n", cli_s);
    std::printf("ratio gio copy / get-all:                  %8.3f\n", gio.copy_s / cli_s);
    std::printf("bulk reads per run: gio session %d, get-all %d\n", gio_reads, cli_reads);
    fs::remove_all(scratch);
    return 0;
}
