// camsim: one simulated camera on the bus, or a card image maker.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/simsock/server.h"
#include "sim/camera.h"
#include "sim/camsim_options.h"
#include "sim/card_maker.h"
#include "sim/fault_plan.h"

namespace {

// Only the pointer is read in the handler; Server::Stop is async-signal-safe.
std::atomic<platform::simsock::Server*> g_server{nullptr};

extern "C" void OnTerminate(int) {
    if (platform::simsock::Server* server = g_server.load())
        server->Stop();
}

void InstallSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

int Serve(const sim::ServeOptions& opt) {
    const sim::Geometry& g = sim::GeometryOf(opt.variant);
    std::string error;
    std::unique_ptr<sim::CardImage> card =
        sim::CardImage::Open(opt.card, g.card_bytes, &error, /*exclusive=*/true);
    if (!card) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    const std::string prefix = "camsim " + opt.name + ": ";
    auto camera = std::make_shared<sim::Camera>(
        opt.variant, std::move(card), opt.attributes, [prefix](std::string_view line) {
            std::fprintf(stderr, "%s%.*s\n", prefix.c_str(), static_cast<int>(line.size()),
                         line.data());
        });
    std::shared_ptr<platform::Peripheral> device = camera;

    // The fault plan unplugs through the server, which is made after it.
    std::atomic<platform::simsock::Server*> unplug_target{nullptr};
    if (opt.faults.any()) {
        device = std::make_shared<sim::FaultPlan>(camera, opt.faults, [&unplug_target] {
            if (platform::simsock::Server* s = unplug_target.load())
                s->Unplug();
        });
    }
    platform::simsock::Server server(opt.name, device);
    unplug_target = &server;
    g_server = &server;
    InstallSignalHandlers();
    if (!server.Start(&error)) {
        g_server = nullptr;
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("camsim: serving sim:%s (%s, card %s, %04x:%04x) at %s\n", opt.name.c_str(),
                std::string(g.name).c_str(), opt.card.c_str(), opt.attributes.vendor_id,
                opt.attributes.product_id, server.socket_path().c_str());
    std::fflush(stdout);
    server.Run();
    g_server = nullptr;
    unplug_target = nullptr;
    std::fprintf(stderr, "camsim: sim:%s unplugged\n", opt.name.c_str());
    return 0;
}

int MakeCard(const sim::MakeCardOptions& opt) {
    std::string error;
    const bool ok = opt.blank ? sim::MakeBlankCard(opt.card, opt.variant, &error)
                              : sim::MakeCard(opt.card, opt.variant, opt.photos, &error);
    if (!ok) {
        std::fprintf(stderr, "camsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("camsim: wrote %s card %s%s\n", std::string(sim::VariantName(opt.variant)).c_str(),
                opt.card.c_str(),
                opt.blank ? " (blank)"
                          : (" with " + std::to_string(opt.photos.size()) + " photo(s)").c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const std::optional<sim::CamsimCommand> cmd = sim::ParseCamsimArgs(args, &error);
    if (!cmd) {
        std::fprintf(stderr, "camsim: %s\n%s", error.c_str(), sim::CamsimUsage().c_str());
        return 2;
    }
    switch (cmd->kind) {
        case sim::CamsimCommand::Kind::Help:
            std::fputs(sim::CamsimUsage().c_str(), stdout);
            return 0;
        case sim::CamsimCommand::Kind::Serve:
            return Serve(cmd->serve);
        case sim::CamsimCommand::Kind::MakeCard:
            return MakeCard(cmd->make_card);
    }
    return 2;
}
