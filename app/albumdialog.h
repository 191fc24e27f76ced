// The album: lists the picture folder, shows the selected picture, deletes a file on request.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "app/filelistbox.h"
#include "app/picturebox.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QMessageBox;
class QPushButton;

namespace lensmere {

class TPreviewDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TPreviewDlg(QWidget* parent = nullptr);

    // Asks a yes/no question; true means Yes. Replaced in tests so no modal box blocks.
    using Confirmation = std::function<bool(QWidget* parent, const QString& question)>;
    void SetConfirmation(Confirmation confirmation);
    // The question box shown by default: caption "Confirm", question icon, "&Yes" and "&No".
    static QMessageBox* CreateConfirmBox(QWidget* parent, const QString& question);

    // The main window's way in: makes folder the list's directory, re-reads the list and
    // shows the album modally. A folder that cannot be opened raises its file error and the
    // album is not shown.
    void ShowFolder(const QString& folder);

  private:
    // Shows the selected file in Image1 (stretched). Raises the loading error; Image1 then
    // keeps its picture.
    void FileListBox1Change();
    // Deletes the selected file after confirmation and re-reads the list.
    void DELETEFILE1Click();

    // Controls, found by their object names (the same as these) from outside.
    QFrame* Bevel1;
    TPictureBox* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QPushButton* CancelBtn;
    TFileListBox* FileListBox1;
    QMenu* PopupMenu1;
    QAction* DELETEFILE1;

    Confirmation confirmation_;
};

}  // namespace lensmere
