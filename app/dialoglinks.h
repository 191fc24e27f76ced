// What the main window needs of the album and of the print dialog, so that
// the window does not depend on how either dialog is built. Until the real
// dialogs are wired in, the placeholders below stand in for them.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;

namespace lensmere {

class AlbumLink {
  public:
    virtual ~AlbumLink() = default;
    // Points the album's file list at folder, re-reads it and shows the album
    // modally.
    virtual void ShowFolder(const QString& folder) = 0;
};

class PrintLink {
  public:
    virtual ~PrintLink() = default;
    // Loads a picture file into the dialog's picture (image1).
    virtual void LoadPicture(const QString& file) = 0;
    // Sets the picture's decoding and display options before showing.
    virtual void PreparePicture() = 0;
    virtual void ShowModal() = 0;
};

class PlaceholderAlbumDialog final : public QDialog, public AlbumLink {
  public:
    explicit PlaceholderAlbumDialog(QWidget* parent = nullptr);
    void ShowFolder(const QString& folder) override;
    QString folder() const { return folder_; }

  private:
    QLabel* text_;
    QString folder_;
};

class PlaceholderPrintDialog final : public QDialog, public PrintLink {
  public:
    explicit PlaceholderPrintDialog(QWidget* parent = nullptr);
    void LoadPicture(const QString& file) override;
    void PreparePicture() override {}
    void ShowModal() override { exec(); }

  private:
    QLabel* text_;
    QLabel* picture_;
};

}  // namespace lensmere
