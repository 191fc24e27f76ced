// Runs one program with the simulated camera plugged into the emulated USB
// bus, carrying the udev properties a real system gives it, and only this
// driver in CAMLIBS: for trying desktop photo programs by hand or from a
// script (scripts/try-photo-importer). The program inherits this process's
// environment; this process serves the bus until the program ends and exits
// with its status.
//
//   umockdev-wrapper build/gphoto/tests/gphoto_emulated_camera [--photos N] -- PROGRAM ARGS...
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gphoto/tests/gphoto_rig.h"
#include "tools/tests/process.h"

int main(int argc, char** argv) {
    int photos = 5;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--photos") == 0 && i + 1 < argc)
            photos = std::atoi(argv[++i]);
    }
    if (i + 1 >= argc || photos < 0 || photos > 52) {
        std::fprintf(stderr, "usage: %s [--photos 0-52] -- PROGRAM ARGS...\n", argv[0]);
        return 2;
    }
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::string(preload).find("umockdev") == std::string::npos) {
        std::fprintf(stderr, "run under umockdev-wrapper\n");
        return 2;
    }
    ::setenv("CAMLIBS", gphototest::DriverFolder().c_str(), 1);
    usbtest::PlugOptions options;
    options.port = "2";
    options.udev_properties = gphototest::DesktopUdevProperties();
    usbtest::MockUsbDevice& device = usbtest::Bus().Plug(
        gphototest::MakeCameraPair(sim::Variant::k16MbLe, photos).plugged, options);
    std::fprintf(stderr, "camera with %d photos on %s\n", photos,
                 gphototest::GphotoPortOf(device).c_str());
    const std::vector<std::string> program(argv + i + 1, argv + argc);
    const testproc::Result r = testproc::Run(program, 3600);
    std::fputs(r.out.c_str(), stdout);
    std::fputs(r.err.c_str(), stderr);
    usbtest::Bus().Unplug(device);
    return r.status;
}
