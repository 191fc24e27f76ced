#include "app/mainwindow.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSocketNotifier>
#include <QTimer>

#include <cstring>
#include <stdexcept>

#include "app/dialoglinks.h"
#include "app/errors.h"
#include "app/photofiles.h"
#include "platform/events.h"

namespace {

constexpr char kMagic[] = "ZPX PHOTO CAM IMAGE";

}  // namespace

QString HexDump(const uint8_t* data, int lines) {
    static const char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(lines * 56);
    for (int i = 0; i < lines; ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        text += QStringLiteral("%1 : ").arg(i * 16, 4, 16, QLatin1Char('0')).toUpper();
        for (int b = 0; b < 16; ++b) {
            uint8_t v = data[i * 16 + b];
            text += QLatin1Char(kDigits[v >> 4]);
            text += QLatin1Char(kDigits[v & 15]);
            text += QLatin1Char(' ');
        }
    }
    return text;
}

TZarvoLink::TZarvoLink(QWidget* parent)
    : QWidget(parent), ReceiveBuffer(kBufferBytes, 0), PhotoBuffer(kBufferBytes, 0) {
    BuildForm();
    connect(Timer1, &QTimer::timeout, this,
            [this] { lensmere::RunHandler([&] { Timer1Timer(); }); });
    connect(Timer2, &QTimer::timeout, this,
            [this] { lensmere::RunHandler([&] { Timer2Timer(); }); });
    Timer2->start();
    WatchDevices();
    lensmere::RunHandler([&] { FormCreate(); });
}

TZarvoLink::~TZarvoLink() {
    FormDestroy();
}

void TZarvoLink::WatchDevices() {
    monitor_ = std::make_unique<platform::DeviceMonitor>();
    if (monitor_->Fd() < 0)
        return;
    monitor_notifier_ = new QSocketNotifier(monitor_->Fd(), QSocketNotifier::Read, this);
    connect(monitor_notifier_, &QSocketNotifier::activated, this,
            [this] { lensmere::RunHandler([&] { OnDeviceEvents(); }); });
}

// Arrivals and removals reach the window as the system's device-change
// messages about a device node, as the link expects them.
void TZarvoLink::OnDeviceEvents() {
    for (const platform::DeviceEvent& event : monitor_->TakeEvents()) {
        const devicelink::DeviceChange change = devicelink::DeviceChangeFor(event);
        WMDeviceChange(change.event, &change.header);
    }
}

void TZarvoLink::FormCreate() {
    capacity_ = 26;
    devicelink::ProbeDevice();
    list_shown_ = 0;
    busy_ = 0;
    device_connected_ = devicelink::IsConnected() ? 1 : 0;
    CheckConnection();
    work_dir_ = QDir::currentPath();
    if (!QFileInfo(PictureFolder()).isDir() && !QDir(work_dir_).mkdir(QStringLiteral("MyPhoto")))
        throw std::runtime_error(("Cannot create " + PictureFolder()).toStdString());
}

void TZarvoLink::FormDestroy() {
    CloseAllthread();
}

void TZarvoLink::WMDeviceChange(uint32_t event, const devicelink::DeviceBroadcastHeader* header) {
    devicelink::DecodeDeviceChange(event, header);
    device_connected_ = devicelink::IsConnected() ? 1 : 0;
}

void TZarvoLink::Timer1Timer() {
    // While the window waits for a worker it takes no timer ticks.
    if (waiting_for_worker_)
        return;
    if (busy_) {
        EnableButtons(false);
    } else {
        EnableButtons(true);
        Timer1->stop();
    }
}

void TZarvoLink::Timer2Timer() {
    if (waiting_for_worker_)
        return;
    ShowCableState(device_connected_ != 0);
    CheckConnection();
}

TZarvoLink::CardInfo TZarvoLink::ReadCardInfo() {
    bool complete =
        devicelink::ReadCardMemory(kSystemBlockAddress, kSystemBlockRead, ReceiveBuffer.data());
    Memo1->clear();
    Memo1->setPlainText(HexDump(ReceiveBuffer.data(), 129));
    if (!complete) {
        // Whatever the buffer held before says nothing about this card.
        photo_count_ = 0;
        capacity_ = 26;
        std::memset(CardDirectory, 0xFF, sizeof CardDirectory);
        return CardInfo::ReadFailed;
    }
    std::memcpy(CardHeader, ReceiveBuffer.data(), sizeof CardHeader);
    std::memcpy(CardDirectory, ReceiveBuffer.data() + 512, sizeof CardDirectory);
    uint8_t capacity = ReceiveBuffer[258];
    capacity_ = (capacity == 0 || capacity == 255) ? 26 : capacity;
    if (std::memcmp(CardHeader, kMagic, sizeof kMagic - 1) != 0) {
        // A camera whose card is laid out another way: its block at this
        // address is not a header, so there is nothing to list.
        photo_count_ = 0;
        return CardInfo::NotACard;
    }
    photo_count_ = ReceiveBuffer[256];
    return CardInfo::Read;
}

void TZarvoLink::RefreshPhotoList() {
    CardInfo info = ReadCardInfo();
    ListBox1->clear();
    if (info == CardInfo::ReadFailed) {
        Number_of_Photo->clear();
        return;
    }
    if (info == CardInfo::NotACard) {
        Number_of_Photo->setText(QString::fromLatin1(kUnknownCountText));
        return;
    }
    for (int n = 1; n <= photo_count_; ++n) {
        auto* item =
            new QListWidgetItem(QString::fromLatin1(kPhotoItemPrefix) + QString::number(n));
        item->setSizeHint(QSize(0, 13));
        ListBox1->addItem(item);
    }
    if (photo_count_ > capacity_) {
        Number_of_Photo->setText(QString::fromLatin1(kUnknownCountText));
    } else {
        Number_of_Photo->setText(
            QString::number(photo_count_) + QString::fromLatin1(kPhotosUsedText) +
            QString::number(capacity_ - photo_count_) + QString::fromLatin1(kBlockFreeText));
    }
}

void TZarvoLink::CheckConnection() {
    if (devicelink::IsConnected() && list_shown_ == 0) {
        list_shown_ = 1;
        RefreshPhotoList();
    }
    if (!devicelink::IsConnected() && list_shown_ == 1) {
        list_shown_ = 0;
        ListBox1->clear();
        Number_of_Photo->clear();
    }
}

void TZarvoLink::ShowCableState(bool on) {
    Image2->setVisible(on);
    Label2->setText(on ? QString::fromLatin1(kCableConnectedText) : QString());
    Label2->adjustSize();
}

void TZarvoLink::ShowReading(bool on) {
    Label3->setText(on ? QString::fromLatin1(kNowReadingText) : QString());
    Label3->adjustSize();
    Label3->repaint();
}

void TZarvoLink::EnableButtons(bool on) {
    ViewPICButton->setEnabled(on);
    GetinfoBotton->setEnabled(on);
    ExitButton->setEnabled(on);
}

bool TZarvoLink::HasSelection() const {
    return ListBox1->currentRow() >= 0 && ListBox1->currentItem() != nullptr &&
           ListBox1->currentItem()->isSelected();
}

void TZarvoLink::StepGauge() {
    Gauge1->setVisible(true);
    Gauge1->setValue(std::min(Gauge1->value() + 1, Gauge1->maximum()));
    Gauge1->repaint();
}

void TZarvoLink::GetinfoBottonClick() {
    RefreshPhotoList();
}

bool TZarvoLink::FetchSelectedPhoto(lensmere::TransferKind kind) {
    ShowReading(true);
    if (!RunTransfer(kind))
        return false;
    if (!outcome_.error.isEmpty()) {
        lensmere::ShowMessage(outcome_.error);
        return false;
    }
    return true;
}

void TZarvoLink::ViewPICButtonClick() {
    if (!HasSelection())
        return;
    FetchSelectedPhoto(lensmere::TransferKind::View);
}

void TZarvoLink::SavetofileButtonClick() {
    if (!HasSelection())
        return;
    SavePictureDialog1.FileName = ListBox1->currentItem()->text() + QStringLiteral(".jpg");
    SavePictureDialog1.InitialDir = PictureFolder();
    if (!save_dialog_runner_(this, SavePictureDialog1))
        return;
    const QString target = SavePictureDialog1.FileName;
    if (!FetchSelectedPhoto(lensmere::TransferKind::Backup))
        return;
    // A name that asks for a bitmap gets one: a JPEG stream under a bitmap
    // name would not open as what its name says.
    if (target.endsWith(QStringLiteral(".bmp"), Qt::CaseInsensitive)) {
        lensmere::WriteDoubledBitmap(target.toStdString(), PhotoBuffer);
    } else {
        lensmere::ConvertToJpeg(TempBitmapPath().toStdString(), target.toStdString());
    }
}

void TZarvoLink::PrintButtonClick() {
    // Like viewing and saving, printing needs a photo to print.
    if (!HasSelection())
        return;
    if (!FetchSelectedPhoto(lensmere::TransferKind::Backup))
        return;
    lensmere::ConvertToJpeg(TempBitmapPath().toStdString(), TempJpegPath().toStdString());
    if (print_ == nullptr)
        return;
    print_->LoadPicture(TempJpegPath());
    print_->PreparePicture();
    print_->ShowModal();
}

void TZarvoLink::BookButtonClick() {
    if (album_ != nullptr)
        album_->ShowFolder(PictureFolder());
}

void TZarvoLink::ExitButtonClick() {
    close();
}

QString TZarvoLink::TempBitmapPath() const {
    return (temporary_folder_.isEmpty() ? work_dir_ : temporary_folder_) +
           QStringLiteral("/TEMP.BMP");
}
QString TZarvoLink::TempJpegPath() const {
    return (temporary_folder_.isEmpty() ? work_dir_ : temporary_folder_) +
           QStringLiteral("/TEMP.jpg");
}
QString TZarvoLink::PictureFolder() const {
    return work_dir_ + QStringLiteral("/MyPhoto");
}

// ---- transfers: the worker's calls and the window's side of a worker --------

void TZarvoLink::OnWindowThread(const std::function<void()>& f) {
    if (QThread::currentThread() == thread()) {
        f();
        return;
    }
    QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
}

void TZarvoLink::TransferStarted() {
    busy_ = 1;
    OnWindowThread([this] {
        Timer1->start();
        Gauge1->setRange(0, 9);
        Gauge1->setValue(0);
    });
}

void TZarvoLink::PieceArrived() {
    OnWindowThread([this] { StepGauge(); });
}

bool TZarvoLink::ShowPreview(const QString& bitmap_path) {
    bool shown = false;
    OnWindowThread([this, &bitmap_path, &shown] {
        const QImage picture(bitmap_path);
        shown = !picture.isNull();
        if (shown)
            Image1->setPixmap(QPixmap::fromImage(picture));
    });
    return shown;
}

void TZarvoLink::TransferEnded() {
    OnWindowThread([this] { ShowReading(false); });
    busy_ = 0;
}

bool TZarvoLink::RunTransfer(lensmere::TransferKind kind) {
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
    const uint8_t* entry = CardDirectory + 16 * index;
    lensmere::TransferJob job{kind, static_cast<uint32_t>(entry[8] | (entry[9] << 8)),
                              ReceiveBuffer, PhotoBuffer, TempBitmapPath()};

    std::unique_ptr<lensmere::ttimethread_read>& slot =
        kind == lensmere::TransferKind::View ? read_thread_ : backup_thread_;
    lensmere::TransferWindow& window = *this;
    if (kind == lensmere::TransferKind::View) {
        slot = std::make_unique<lensmere::ttimethread_read>(std::move(job), window);
    } else {
        slot = std::make_unique<lensmere::ttimethread_backup>(std::move(job), window);
    }
    lensmere::ttimethread_read* worker = slot.get();
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
    outcome_ = worker->outcome();
    slot.reset();
    return true;
}

void TZarvoLink::CloseAllthread() {
    if (read_thread_ && read_thread_->isRunning()) {
        read_thread_->requestInterruption();
        read_thread_->wait();
    }
}
