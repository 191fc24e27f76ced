#include "app/tests/mainwindow_test_support.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "app/devicelink.h"
#include "app/errors.h"
#include "app/mainwindow.h"

namespace apptest {

namespace {

// One application object for every test of a binary, deleted when the tests
// end so that the font and window-system state goes with it.
class ApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { EnsureApplication(); }
    void TearDown() override {
        devicelink::Shutdown();
        delete App();
        App() = nullptr;
    }
    static lensmere::TApplication*& App() {
        static lensmere::TApplication* instance = nullptr;
        return instance;
    }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

}  // namespace

void EnsureApplication() {
    static int argc = 1;
    static char name[] = "lensmere_test";
    static char* argv[] = {name, nullptr};
    if (ApplicationEnvironment::App() == nullptr)
        ApplicationEnvironment::App() = new lensmere::TApplication(argc, argv);
}

TempWorkDir::TempWorkDir() : path_(dir_.path()) {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
}

TempWorkDir::~TempWorkDir() {
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
}

CapturedMessages::CapturedMessages() : texts_(std::make_shared<std::vector<QString>>()) {
    auto texts = texts_;
    lensmere::SetMessageHandler([texts](const QString& text) { texts->push_back(text); });
    devicelink::SetMessageSink([texts](std::string_view text) {
        texts->push_back(QString::fromUtf8(text.data(), static_cast<int>(text.size())));
    });
}

CapturedMessages::~CapturedMessages() {
    lensmere::SetMessageHandler({});
    devicelink::SetMessageSink({});
}

QObject* FindControl(const QWidget& window, const char* name) {
    QObject* control = window.findChild<QObject*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << "no control " << name;
    return control;
}

QString Text(const QWidget& window, const char* name) {
    QLabel* label = Control<QLabel>(window, name);
    return label != nullptr ? label->text() : QString();
}

void Press(const QWidget& window, const char* button) {
    QWidget* control = Control<QWidget>(window, button);
    if (control == nullptr)
        return;
    control->window()->show();
    QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
}

void Tick(const QWidget& window, const char* timer) {
    QTimer* control = Control<QTimer>(window, timer);
    if (control == nullptr)
        return;
    QTimerEvent tick(control->timerId());
    QCoreApplication::sendEvent(control, &tick);
}

picture::Picture TestPicture(int seed) {
    picture::Picture image(picture::kPhotoWidth, picture::kPhotoHeight);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            uint8_t* p = image.At(x, y);
            p[0] = static_cast<uint8_t>(x * 3 + seed * 50);
            p[1] = static_cast<uint8_t>(y * 5 + ((x / 8 + y / 8 + seed) % 2) * 60);
            p[2] = static_cast<uint8_t>((x ^ y) + seed * 20);
        }
    }
    return image;
}

std::vector<picture::Picture> TestPictures(int count) {
    std::vector<picture::Picture> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(TestPicture(i + 1));
    return pictures;
}

QImage ExpectedPreview(const std::vector<uint8_t>& raw) {
    QImage image(picture::kPhotoWidth, picture::kPhotoHeight, QImage::Format_RGB888);
    for (int r = 0; r < picture::kPhotoHeight; ++r) {
        for (int x = 0; x < picture::kPhotoWidth; ++x) {
            const size_t at = static_cast<size_t>(r) * picture::kRawRowBytes + 4 * x;
            // The bottom row's last pixels lie past the slot: black.
            if (at >= TZarvoLink::kSlotBytes) {
                image.setPixel(x, r, qRgb(0, 0, 0));
                continue;
            }
            const uint8_t* p = raw.data() + at;
            image.setPixel(x, r, qRgb(p[3], p[2], p[0]));
        }
    }
    return image;
}

}  // namespace apptest
