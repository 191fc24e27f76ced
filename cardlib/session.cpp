#include "cardlib/session.h"

#include <cstring>
#include <optional>

#include "cardlib/transport.h"

namespace quorbit {

CardSession::~CardSession() {
    Close();
}

int CardSession::Open() {
    Close();
    device = OpenInterfaceDevice(platform::CardInterfaceGuid);
    if (device == nullptr)
        return 0;
    DetectGeometry(*this);
    return 1;
}

int CardSession::Close() {
    geometry.reset();
    if (device == nullptr)
        return -1;
    device.reset();
    return 1;
}

namespace {
// Constructed when the library is loaded, before any export can run, and
// destroyed (closing the device) when it is unloaded.
CardSession g_session;
}  // namespace

CardSession& Session() {
    return g_session;
}

int ProbeGeometry(CardSession& session, int reads, bool* read_failed) {
    FlashGeometry& geometry = *session.geometry;
    const uint32_t bytes = geometry.SystemBlockBytes();
    bool read = false;
    for (int i = 0; i < reads && !read; ++i) {
        std::optional<QuietCardErrors> quiet;
        if (i + 1 < reads)
            quiet.emplace();
        read =
            geometry.ReadPages(geometry.SystemBlockPage(), session.system_block.data(), bytes) != 0;
    }
    if (!read && read_failed != nullptr)
        *read_failed = true;
    if (read && std::memcmp(session.system_block.data(), kMagic.data(), kMagic.size()) == 0 &&
        geometry.HeaderCapacity(session.system_block) == geometry.MaxPhotos()) {
        return 1;
    }
    session.geometry.reset();
    return 0;
}

int DetectGeometry(CardSession& session) {
    const QuietCardErrors quiet;
    // A read that fails changes nothing on the card, so when no kind was
    // recognised and a read failed, the probes run once more: one lost read
    // at open would otherwise show a card full of photos as not recognised,
    // and the user's next step may well be a format. A camera that refuses
    // the other kinds' reads costs nothing more when its own kind matches.
    constexpr int kPasses = 2;
    for (int pass = 0; pass < kPasses; ++pass) {
        bool read_failed = false;
        for (GeometryKind kind : kProbeOrder) {
            session.geometry = MakeGeometry(kind, session.device.get());
            if (ProbeGeometry(session, 1, &read_failed) == 1)
                return 1;
        }
        if (!read_failed)
            break;
    }
    session.geometry.reset();
    return 0;
}

}  // namespace quorbit
