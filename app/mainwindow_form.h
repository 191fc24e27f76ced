// The form of the main window: the texts a user sees on it and the save-picture dialog it
// runs. Both are defined in mainwindow_form.cpp, with the controls.
#pragma once

#include <QString>

#include <functional>

class QWidget;

// Texts of the window that a user sees.
extern const char kPhotoItemPrefix[];
extern const char kPhotosUsedText[];
extern const char kBlockFreeText[];
extern const char kUnknownCountText[];
extern const char kCableConnectedText[];
extern const char kNowReadingText[];
extern const char kNoPhotoSelectedText[];
extern const char kTransferFailedText[];

// The settings of the save-picture dialog and the name the user chose.
struct TSavePictureDialog {
    QString DefaultExt = QStringLiteral("*.jpg");
    QString FileName = QStringLiteral("*.jpg");
    QString Filter = QStringLiteral(
        "All (*.jpg;*.jpeg;*.bmp)|*.jpg;*.jpeg;*.bmp|JPEG Image File (*.jpg)|*.jpg|"
        "JPEG Image File (*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp");
    int FilterIndex = 2;  // counted from 1, pairs of the filter
    QString InitialDir;
};

// Runs the save dialog: true with FileName set to the chosen path, false
// when the user cancels. Tests install their own.
using SaveDialogRunner = std::function<bool(QWidget* parent, TSavePictureDialog& dialog)>;
bool RunSavePictureDialog(QWidget* parent, TSavePictureDialog& dialog);
