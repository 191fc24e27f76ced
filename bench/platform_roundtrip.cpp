// Round trips through the device layer to a simulated camera served over its
// socket: a 16-byte command OUT on the write pipe, then a 512-byte page IN on
// the read pipe, as the program reads the card. The server runs in another
// thread, then in another process. Prints transfers per second and the time
// of one transfer; the protocol's own pauses (1 ms and more) dwarf the aim of
// under 50 us per transfer.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/backend.h"
#include "platform/device.h"
#include "platform/peripheral.h"
#include "platform/simsock/server.h"
#include "platform/simsock/sim_backend.h"

namespace {

using namespace platform;

class TrivialCamera final : public Peripheral {
  public:
    IoResult HandleOut(Endpoint, std::span<const uint8_t> data) override {
        return IoResult::Success(data.size());
    }
    IoResult HandleIn(Endpoint, std::span<uint8_t> buffer) override {
        std::memset(buffer.data(), 0xA5, buffer.size());
        return IoResult::Success(buffer.size());
    }
    DeviceAttributes Attributes() const override {
        DeviceAttributes a;
        a.vendor_id = 0x5A17;
        a.product_id = 0xC3E2;
        return a;
    }
};

// Waits until the camera answers, at most about two seconds.
bool AwaitCamera(const std::string& path) {
    for (int i = 0; i < 2000; ++i) {
        if (OpenPath(path).handle)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool Measure(const char* label, const std::string& device, int pairs) {
    auto out = OpenPath(device + "/PIPE01").handle;
    auto in = OpenPath(device + "/PIPE00").handle;
    if (!out || !in) {
        std::fprintf(stderr, "%s: cannot open the pipes of %s\n", label, device.c_str());
        return false;
    }
    std::vector<uint8_t> command(16, 0);
    command[0] = 0x85;
    command[1] = 0x71;
    std::vector<uint8_t> page(512);
    auto pair = [&] { return out->Write(command).ok() && in->Read(page).ok(); };
    for (int i = 0; i < 1000; ++i) {
        if (!pair()) {
            std::fprintf(stderr, "%s: a transfer failed\n", label);
            return false;
        }
    }
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < pairs; ++i) {
        if (!pair()) {
            std::fprintf(stderr, "%s: a transfer failed\n", label);
            return false;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double transfers = 2.0 * pairs;
    std::printf("%-26s %9.0f transfers/s  %6.1f us per transfer  %6.1f us per command+page\n",
                label, transfers / seconds, 1e6 * seconds / transfers, 1e6 * seconds / pairs);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 20000;
    char base[] = "/tmp/platbench-XXXXXX";
    if (!::mkdtemp(base)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = std::string(base) + "/cams";
    ::setenv("CAMSIM_DIR", dir.c_str(), 1);
    SetBackends({&SimBackend()});
    bool ok = true;

    // Another process first, while this one has no threads to fork with.
    int quit[2];
    if (::pipe(quit) != 0) {
        std::perror("pipe");
        return 1;
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::close(quit[1]);
        simsock::Server server("bench-process", std::make_shared<TrivialCamera>());
        std::string error;
        if (!server.Start(&error)) {
            std::fprintf(stderr, "server: %s\n", error.c_str());
            ::_exit(1);
        }
        // Ends when the parent closes its end of the pipe.
        std::thread quitter([&server, fd = quit[0]] {
            char c;
            while (::read(fd, &c, 1) > 0) {
            }
            server.Stop();
        });
        server.Run();
        quitter.join();
        ::_exit(0);
    }
    ::close(quit[0]);
    if (child > 0) {
        ok = AwaitCamera("sim:bench-process") &&
             Measure("server in another process", "sim:bench-process", pairs);
        ::close(quit[1]);
        ::waitpid(child, nullptr, 0);
    }

    {
        simsock::Server server("bench-thread", std::make_shared<TrivialCamera>());
        std::string error;
        if (!server.Start(&error)) {
            std::fprintf(stderr, "server: %s\n", error.c_str());
            return 1;
        }
        std::thread serving([&server] { server.Run(); });
        ok = Measure("server in another thread", "sim:bench-thread", pairs) && ok;
        server.Stop();
        serving.join();
    }

    SetBackends({});
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
    return ok ? 0 : 1;
}
