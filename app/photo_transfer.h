// Bringing one photo from the card on a worker thread. The worker knows the
// window only through TransferWindow; the window starts a worker with a job
// and reads its outcome once the worker has finished.
#pragma once

#include <QString>
#include <QThread>

#include <cstdint>
#include <span>

namespace lensmere {

inline constexpr uint32_t kSlotBytes = 0x4C000;
inline constexpr int kPieceBytes = 0x8000;
inline constexpr int kPieces = 10;

enum class TransferKind { View, Backup };

// What a transfer achieved.
struct TransferOutcome {
    bool complete = false;  // every byte of the ten pieces arrived
    bool written = false;   // the temporary bitmap was written
    QString error;          // why not, for the user
};

// The window as a transfer sees it. The worker calls these on its own
// thread; the window carries each out on its thread, which waits for the
// worker meanwhile, so the calls cannot meet other work.
class TransferWindow {
  public:
    virtual void TransferStarted() = 0;  // the gauge back to 0 of 9
    virtual void PieceArrived() = 0;     // one step of the gauge
    // Shows the bitmap in the preview; false when it cannot be shown.
    virtual bool ShowPreview(const QString& bitmap_path) = 0;
    virtual void TransferEnded() = 0;

  protected:
    ~TransferWindow() = default;
};

struct TransferJob {
    TransferKind kind = TransferKind::View;
    uint32_t slot = 0;           // the photo's slot on the card
    std::span<uint8_t> receive;  // one piece at a time
    std::span<uint8_t> photo;    // the ten pieces, then the raw photo's tail cleared
    QString bitmap_path;         // the temporary bitmap written from the photo
};

// The two workers: the view's, and the save and print handlers'.
class ttimethread_read : public QThread {
  public:
    ttimethread_read(TransferJob job, TransferWindow& window)
        : job_(std::move(job)), window_(window) {}
    const TransferOutcome& outcome() const { return outcome_; }

  protected:
    void run() override;

  private:
    TransferJob job_;
    TransferWindow& window_;
    TransferOutcome outcome_;
};

class ttimethread_backup : public ttimethread_read {
  public:
    using ttimethread_read::ttimethread_read;
};

}  // namespace lensmere
