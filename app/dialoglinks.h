// What the main window needs of the album and of the print dialog, so that
// the window does not depend on how either dialog is built (tests put fakes
// in their place), and the adapters that connect the two real dialogs.
#pragma once

#include <QString>

namespace lensmere {

class TPreviewDlg;
class TPrintDlg;

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

// The album dialog behind AlbumLink.
class AlbumDialogLink final : public AlbumLink {
  public:
    explicit AlbumDialogLink(TPreviewDlg& dialog) : dialog_(dialog) {}
    void ShowFolder(const QString& folder) override;

  private:
    TPreviewDlg& dialog_;
};

// The print dialog behind PrintLink.
class PrintDialogLink final : public PrintLink {
  public:
    explicit PrintDialogLink(TPrintDlg& dialog) : dialog_(dialog) {}
    void LoadPicture(const QString& file) override;
    void PreparePicture() override;
    void ShowModal() override;

  private:
    TPrintDlg& dialog_;
};

}  // namespace lensmere
