// The program's main window "ZarvoLink": whether the camera is connected, the
// photos on the card, a preview of one photo, saving a photo as JPEG, handing
// a photo to the print dialog and opening the album. A photo travels from the
// card on a worker thread while the window's thread waits for it and carries
// out the worker's gauge steps.
#pragma once

#include <QString>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/devicelink.h"
#include "app/mainwindow_form.h"
#include "app/photo_transfer.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QSocketNotifier;
class QTimer;

namespace platform {
class DeviceMonitor;
}

namespace lensmere {
class AlbumLink;
class PrintLink;
}  // namespace lensmere

// The hexadecimal dump of the hidden memo: `lines` lines of 16 bytes,
// "0000 : 5A 50 ... " (offset, " : ", each byte as two capital digits and a
// blank).
QString HexDump(const uint8_t* data, int lines);

class TZarvoLink : public QWidget, private lensmere::TransferWindow {
    Q_OBJECT

  public:
    static constexpr size_t kBufferBytes = 0x80000;
    static constexpr uint32_t kSystemBlockAddress = 0xFFE000;
    static constexpr int kSystemBlockRead = 1536;
    static constexpr uint32_t kSlotBytes = lensmere::kSlotBytes;
    static constexpr int kDirectoryEntries = 64;

    // Builds the window's controls and runs FormCreate.
    explicit TZarvoLink(QWidget* parent = nullptr);
    ~TZarvoLink() override;

    void SetAlbum(lensmere::AlbumLink* album) { album_ = album; }
    void SetPrintDialog(lensmere::PrintLink* print) { print_ = print; }
    void SetSaveDialogRunner(SaveDialogRunner runner) { save_dialog_runner_ = std::move(runner); }
    // Where TEMP.BMP and TEMP.jpg go instead of WorkDir() (a private folder
    // when the desktop menu started the program); empty: WorkDir().
    void SetTemporaryFolder(const QString& folder) { temporary_folder_ = folder; }

    // What the window knows, for those who look at it.
    int PhotoCount() const { return photo_count_; }
    int Capacity() const { return capacity_; }
    bool IsDeviceConnected() const { return device_connected_ != 0; }
    bool IsBusy() const { return busy_ != 0; }
    const QString& WorkDir() const { return work_dir_; }

    // What the last transfer achieved.
    const lensmere::TransferOutcome& LastTransfer() const { return outcome_; }

    QString TempBitmapPath() const;
    QString TempJpegPath() const;
    QString PictureFolder() const;

  private slots:
    // Handlers.
    void FormCreate();
    void Timer1Timer();
    void Timer2Timer();
    void GetinfoBottonClick();
    void ViewPICButtonClick();
    void SavetofileButtonClick();
    void PrintButtonClick();
    void BookButtonClick();
    void ExitButtonClick();

  private:
    void FormDestroy();
    void WMDeviceChange(uint32_t event, const devicelink::DeviceBroadcastHeader* header);
    void CloseAllthread();

    // Steps of the handlers.
    enum class CardInfo { Read, ReadFailed, NotACard };
    CardInfo ReadCardInfo();
    void RefreshPhotoList();
    void CheckConnection();
    void ShowCableState(bool on);
    void ShowReading(bool on);
    void EnableButtons(bool on);
    bool HasSelection() const;
    void StepGauge();

    void BuildForm();
    void WatchDevices();
    void OnDeviceEvents();
    // The transfer's calls, from the worker's thread (TransferWindow).
    void TransferStarted() override;
    void PieceArrived() override;
    bool ShowPreview(const QString& bitmap_path) override;
    void TransferEnded() override;
    // Starts a worker for the selected item and waits for it; false when the
    // item cannot be transferred (it has no directory entry).
    bool RunTransfer(lensmere::TransferKind kind);
    // The selected photo brought from the card into PhotoBuffer and the
    // temporary bitmap (the view's or the doubled one): false, after telling
    // the user why, when there is none.
    bool FetchSelectedPhoto(lensmere::TransferKind kind);
    // Runs f on the window's thread and waits for it.
    void OnWindowThread(const std::function<void()>& f);

    // Controls, named as in the window's form. The six buttons are made by
    // one function (mainwindow_form.cpp), which alone knows their kind.
    QWidget* CoolForm1 = nullptr;
    QLabel* Image1 = nullptr;
    QWidget* PrintButton = nullptr;
    QWidget* SavetofileButton = nullptr;
    QWidget* GetinfoBotton = nullptr;
    QWidget* BookButton = nullptr;
    QWidget* ViewPICButton = nullptr;
    QWidget* ExitButton = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Image2 = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QListWidget* ListBox1 = nullptr;
    QLabel* Number_of_Photo = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    TSavePictureDialog SavePictureDialog1;

    // Window state.
    std::vector<uint8_t> ReceiveBuffer;  // kBufferBytes
    std::vector<uint8_t> PhotoBuffer;    // kBufferBytes
    uint8_t CardDirectory[1024] = {};
    uint8_t CardHeader[256] = {};
    int32_t photo_count_ = 0;
    int32_t capacity_ = 26;
    uint8_t list_shown_ = 0;
    uint8_t device_connected_ = 0;
    std::atomic<uint8_t> busy_{0};
    QString work_dir_;
    QString temporary_folder_;

    // The last view worker and the last save/print worker started (null once
    // released).
    std::unique_ptr<lensmere::ttimethread_read> read_thread_;
    std::unique_ptr<lensmere::ttimethread_read> backup_thread_;

    lensmere::AlbumLink* album_ = nullptr;
    lensmere::PrintLink* print_ = nullptr;
    SaveDialogRunner save_dialog_runner_ = RunSavePictureDialog;
    std::unique_ptr<platform::DeviceMonitor> monitor_;
    QSocketNotifier* monitor_notifier_ = nullptr;
    bool waiting_for_worker_ = false;
    int transfer_index_ = -1;
    lensmere::TransferOutcome outcome_;
};
