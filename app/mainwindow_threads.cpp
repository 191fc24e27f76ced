// Bringing one photo from the card: the transfer body the two workers run,
// and the window's side of starting a worker and waiting for it.
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>

#include <chrono>
#include <cstring>

#include "app/errors.h"
#include "app/mainwindow.h"
#include "app/photofiles.h"
#include "platform/clock.h"

void TZarvoLink::OnWindowThread(const std::function<void()>& f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
}

void TZarvoLink::TransferBody(TransferKind kind) {
    busy_ = 1;
    TransferOutcome outcome;
    // Every touch of a control goes through the window's thread; the window
    // is waiting for this worker, so the calls cannot meet other work.
    OnWindowThread([this] {
        Timer1->start();
        Gauge1->setRange(0, 9);
        Gauge1->setValue(0);
    });
    const uint8_t* entry = CardDirectory + 16 * transfer_index_;
    const uint32_t slot = static_cast<uint32_t>(entry[8] | (entry[9] << 8));
    bool complete = true;
    for (int k = 0; k < kPieces; ++k) {
        const uint32_t address = slot * kSlotBytes + static_cast<uint32_t>(k) * kPieceBytes;
        if (!devicelink::ReadCardMemory(address, kPieceBytes, ReceiveBuffer.data()))
            complete = false;
        std::memcpy(PhotoBuffer.data() + k * kPieceBytes, ReceiveBuffer.data(), kPieceBytes);
        platform::Pause(std::chrono::milliseconds(20));
        OnWindowThread([this] { StepGauge(); });
    }
    // The ten pieces run past the slot into the next one (a deleted or another
    // photo); the bottom row's last 100 pixels are not on the card and stay black.
    std::memset(PhotoBuffer.data() + kSlotBytes, 0, PhotoBuffer.size() - kSlotBytes);
    outcome.complete = complete;
    if (!complete) {
        outcome.error = QString::fromLatin1(kTransferFailedText);
    } else {
        const QString path = TempBitmapPath();
        try {
            if (kind == TransferKind::View) {
                lensmere::WriteBitmap(path.toStdString(), PhotoBuffer);
            } else {
                lensmere::WriteDoubledBitmap(path.toStdString(), PhotoBuffer);
            }
            outcome.written = true;
        } catch (const std::exception& error) {
            outcome.error = QStringLiteral("Cannot write ") + path + QStringLiteral(": ") +
                            QString::fromUtf8(error.what());
        }
        if (outcome.written && kind == TransferKind::View) {
            OnWindowThread([this, path, &outcome] {
                QImage picture(path);
                if (picture.isNull()) {
                    outcome.error = QStringLiteral("Cannot show ") + path;
                } else {
                    Image1->setPixmap(QPixmap::fromImage(picture));
                }
            });
        }
    }
    OnWindowThread([this] { ShowReading(false); });
    outcome_ = outcome;
    busy_ = 0;
}

bool TZarvoLink::RunTransfer(TransferKind kind) {
    const int index = ListBox1->currentRow();
    // The list can empty while a dialog is open (the camera was unplugged).
    if (index < 0) {
        ShowReading(false);
        lensmere::ShowMessage(QString::fromLatin1(kNoPhotoSelectedText));
        return false;
    }
    // Items past the 64 entries that the directory copy holds have no slot
    // number to read from.
    if (index >= kDirectoryEntries) {
        ShowReading(false);
        lensmere::ShowMessage(QString::fromLatin1(kPhotoItemPrefix) + QString::number(index + 1) +
                              QStringLiteral(" has no entry in the card's directory and cannot be "
                                             "read."));
        return false;
    }
    transfer_index_ = index;
    outcome_ = {};

    std::unique_ptr<QThread>& slot = kind == TransferKind::View ? read_thread_ : backup_thread_;
    if (kind == TransferKind::View) {
        slot = std::make_unique<ttimethread_read>(this);
    } else {
        slot = std::make_unique<ttimethread_backup>(this);
    }
    QThread* worker = slot.get();
    QEventLoop loop;
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    waiting_for_worker_ = true;
    worker->start(QThread::HighestPriority);
    EnableButtons(true);
    // The body runs to its end whatever is asked of it.
    worker->requestInterruption();
    // Runs the worker's calls and device-change notifications, takes no
    // user input.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker->wait();
    waiting_for_worker_ = false;
    slot.reset();
    return true;
}

void TZarvoLink::CloseAllthread() {
    if (read_thread_ && read_thread_->isRunning()) {
        read_thread_->requestInterruption();
        read_thread_->wait();
    }
}
