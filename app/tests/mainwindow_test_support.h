// Shared pieces of the main window's tests: the application object, a
// temporary start-up directory, recorded message boxes, and cards with
// recognisable photos.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "picture/raw_photo.h"
#include "sim/geometry.h"
#include "testsupport/temp_dir.h"

namespace apptest {

// Creates the application object once (offscreen in ctest).
void EnsureApplication();

// A fresh directory that is the current directory while the object lives.
class TempWorkDir {
  public:
    TempWorkDir();
    ~TempWorkDir();
    const std::filesystem::path& Path() const { return path_; }
    QString Q() const { return QString::fromStdString(path_.string()); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    testsupport::TempDir dir_;
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

// Records every message box of the program and of the device link.
class CapturedMessages {
  public:
    CapturedMessages();
    ~CapturedMessages();
    const std::vector<QString>& Texts() const { return *texts_; }
    void Clear() { texts_->clear(); }

  private:
    std::shared_ptr<std::vector<QString>> texts_;
};

// A control of a window, found by the name its form gives it; a test failure
// (and null) when there is none.
QObject* FindControl(const QWidget& window, const char* name);
template <class T = QWidget>
T* Control(const QWidget& window, const char* name) {
    return qobject_cast<T*>(FindControl(window, name));
}
// The text of a label of a window.
QString Text(const QWidget& window, const char* name);
// A click with the mouse on a button of a window, which is shown first.
void Press(const QWidget& window, const char* button);
// One timeout of a running timer of a window, as its clock would give it.
void Tick(const QWidget& window, const char* timer);

// A 322 x 242 picture that differs in every photo and from pixel to pixel.
picture::Picture TestPicture(int seed);
std::vector<picture::Picture> TestPictures(int count);

// The picture the preview should show for the raw bytes read from a slot
// (the 311,696 bytes from the first byte of the slot), as 24-bit RGB: the
// pixels whose bytes lie past the slot are black.
QImage ExpectedPreview(const std::vector<uint8_t>& raw);

}  // namespace apptest
