// The transfer body the two workers run: the ten pieces of the photo's slot,
// then the temporary bitmap. It reaches the window only through
// TransferWindow.
#include <chrono>
#include <cstring>

#include "app/devicelink.h"
#include "app/mainwindow_form.h"
#include "app/photo_transfer.h"
#include "app/photofiles.h"
#include "platform/clock.h"

namespace lensmere {

void ttimethread_read::run() {
    // Once for the transfer rather than once for each of its pauses.
    const platform::LowTimerSlack slack;
    TransferOutcome outcome;
    window_.TransferStarted();
    bool complete = true;
    for (int k = 0; k < kPieces; ++k) {
        const uint32_t address = job_.slot * kSlotBytes + static_cast<uint32_t>(k) * kPieceBytes;
        if (!devicelink::ReadCardMemory(address, kPieceBytes, job_.receive.data()))
            complete = false;
        std::memcpy(job_.photo.data() + k * kPieceBytes, job_.receive.data(), kPieceBytes);
        platform::Pause(std::chrono::milliseconds(20));
        window_.PieceArrived();
    }
    // The ten pieces run past the slot into the next one (a deleted or another
    // photo); the bottom row's last 100 pixels are not on the card and stay black.
    std::memset(job_.photo.data() + kSlotBytes, 0, job_.photo.size() - kSlotBytes);
    outcome.complete = complete;
    if (!complete) {
        outcome.error = QString::fromLatin1(::kTransferFailedText);
    } else {
        const QString& path = job_.bitmap_path;
        try {
            if (job_.kind == TransferKind::View) {
                WriteBitmap(path.toStdString(), job_.photo);
            } else {
                WriteDoubledBitmap(path.toStdString(), job_.photo);
            }
            outcome.written = true;
        } catch (const std::exception& error) {
            outcome.error = QStringLiteral("Cannot write ") + path + QStringLiteral(": ") +
                            QString::fromUtf8(error.what());
        }
        if (outcome.written && job_.kind == TransferKind::View && !window_.ShowPreview(path))
            outcome.error = QStringLiteral("Cannot show ") + path;
    }
    window_.TransferEnded();
    outcome_ = outcome;
}

}  // namespace lensmere
