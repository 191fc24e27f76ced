// Downloading every photo of a card with `gphoto2 --get-all-files` (our
// libgphoto2 driver) against `quorbit-cli get-all` (the library itself), one
// after the other on the same camera on the same emulated USB bus. Both are
// bound by the protocol's pauses; the ratio shows what the driver adds
// (PNG encoding, libgphoto2's own work, one more process start-up). Each
// download is repeated, the two programs taking turns, and the fastest run
// of each is compared, so that other load on the machine counts less.
//
//   umockdev-wrapper build/bench/gphoto_download [photos per card] [rounds]  (defaults 3, 3)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/usb/tests/mock_usb_bus.h"
#include "platform/usb/tests/usb_bus_fixture.h"
#include "sim/camera.h"
#include "sim/card_maker.h"
#include "tools/tests/process.h"

namespace {

// Seconds the program ran; exits when it failed.
double Timed(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& cwd) {
    const auto start = std::chrono::steady_clock::now();
    const testproc::Result r = testproc::Run(argv, 600, env, cwd);
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r.status != 0) {
        std::fprintf(stderr, "%s failed (%d):\n%s%s\n", argv[0].c_str(), r.status, r.out.c_str(),
                     r.err.c_str());
        std::exit(1);
    }
    return s;
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        n += e.is_regular_file() ? 1 : 0;
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    const int photos = argc > 1 ? std::atoi(argv[1]) : 3;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::string(preload).find("umockdev") == std::string::npos) {
        std::fprintf(stderr, "run under umockdev-wrapper\n");
        return 2;
    }
    const std::string scratch =
        (std::filesystem::temp_directory_path() / ("gphoto-bench-" + std::to_string(::getpid())))
            .string();
    const std::vector<std::string> env = {"CAMLIBS=" QUORBIT_GPHOTO_CAMLIBS, "HOME=" + scratch,
                                          "LC_ALL=C", "CAMSIM_DIR=" + scratch + "/camsim"};
    usbtest::MockUsbBus bus;
    std::printf("%-7s %6s %12s %12s %7s   (fastest of %d runs each)\n", "card", "photos",
                "gphoto2 s", "quorbit-cli s", "ratio", rounds);
    int port = 2;
    for (sim::Variant v : {sim::Variant::k16MbLe, sim::Variant::k32Mb}) {
        usbtest::PlugOptions options;
        options.port = std::to_string(port++);
        usbtest::MockUsbDevice& device = bus.Plug(usbtest::MakeCamera(v, photos), options);
        const std::string node = device.devnode();  // /dev/bus/usb/001/00N
        const std::string gp_port =
            "usb:" + node.substr(node.size() - 7, 3) + "," + node.substr(node.size() - 3);
        const std::string gp_dir = scratch + "/gphoto2-" + std::string(sim::GeometryOf(v).name);
        const std::string cli_dir = scratch + "/cli-" + std::string(sim::GeometryOf(v).name);

        double gp = 1e9;
        double cli = 1e9;
        for (int round = 0; round < rounds; ++round) {
            std::filesystem::remove_all(gp_dir);
            std::filesystem::remove_all(cli_dir);
            std::filesystem::create_directories(gp_dir);
            std::filesystem::create_directories(cli_dir);
            gp = std::min(gp, Timed({"gphoto2", "--port", gp_port, "--camera",
                                     "Orvanta Photo Camera", "--get-all-files"},
                                    env, gp_dir));
            cli = std::min(
                cli,
                Timed({QUORBIT_CLI, "--library", QUORBIT_LIBRARY, "get-all", cli_dir}, env, ""));
            if (FilesIn(gp_dir) != static_cast<size_t>(photos) ||
                FilesIn(cli_dir) != static_cast<size_t>(photos)) {
                std::fprintf(stderr, "not every photo was downloaded\n");
                return 1;
            }
        }
        std::printf("%-7s %6d %12.2f %12.2f %7.3f\n", std::string(sim::GeometryOf(v).name).c_str(),
                    photos, gp, cli, gp / cli);
        std::fflush(stdout);
        bus.Unplug(device);
    }
    std::filesystem::remove_all(scratch);
    return 0;
}
