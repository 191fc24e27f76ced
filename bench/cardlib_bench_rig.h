// Shared by the card library's benchmarks: a simulated camera served on a
// socket by a server thread, as camsim serves it, reached by the library
// through the "sim:" backend; a clock that sleeps for real and measures how
// far each pause overshoots.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/simsock/server.h"
#include "sim/camera.h"
#include "sim/card_maker.h"

namespace bench {

using Micros = std::chrono::microseconds;

class MeasuringClock final : public platform::Clock {
  public:
    void Sleep(Duration d) override {
        const auto start = std::chrono::steady_clock::now();
        inner_.Sleep(d);
        const auto slept =
            std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - start);
        requested += d;
        overshoot += slept - d;
        ++pauses;
    }
    std::chrono::steady_clock::time_point Now() override { return inner_.Now(); }
    void Reset() {
        requested = overshoot = Micros{0};
        pauses = 0;
    }
    Micros requested{0};
    Micros overshoot{0};
    long pauses = 0;

  private:
    platform::SystemClock inner_;
};

inline double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

inline double WallMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

// Peak resident memory in KB since the last ResetPeakMemory().
inline long PeakMemoryKb() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmHWM:") {
            in >> value;
            return value;
        }
        in.ignore(1 << 12, '\n');
    }
    return -1;
}
inline long CurrentMemoryKb() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> value;
            return value;
        }
        in.ignore(1 << 12, '\n');
    }
    return -1;
}
inline void ResetPeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// A camera of the variant with `photos` pictures, served on a socket in a
// private camera folder.
class ServedCamera {
  public:
    ServedCamera(sim::Variant variant, int photos) {
        char dir[] = "/tmp/cardlib-bench-XXXXXX";
        dir_ = ::mkdtemp(dir);
        ::setenv("CAMSIM_DIR", dir_.c_str(), 1);
        std::vector<picture::Picture> pictures;
        for (int i = 0; i < photos; ++i) {
            picture::Picture p(322, 242);
            for (size_t b = 0; b < p.rgb.size(); ++b)
                p.rgb[b] = static_cast<uint8_t>(b * 31 + i);
            pictures.push_back(std::move(p));
        }
        std::string error;
        auto card = sim::MakeCardInMemory(variant, pictures, &error);
        camera_ = std::make_shared<sim::Camera>(variant, std::move(card));
        server_ = std::make_unique<platform::simsock::Server>("bench", camera_);
        if (!server_->Start(&error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(1);
        }
        thread_ = std::thread([this] { server_->Run(); });
    }
    ~ServedCamera() {
        server_->Stop();
        thread_.join();
        server_.reset();
        ::rmdir(dir_.c_str());
    }
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    std::shared_ptr<sim::Camera> camera_;
    std::unique_ptr<platform::simsock::Server> server_;
    std::thread thread_;
};

}  // namespace bench
