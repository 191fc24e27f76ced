#include "app/albumdialog.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

#include "app/dialogstyle.h"
#include "app/errors.h"

namespace lensmere {

namespace {

QFont PixelFont(const QString& family, int pixels, bool bold, bool italic, bool underline) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    return font;
}

bool AskWithConfirmBox(QWidget* parent, const QString& question) {
    std::unique_ptr<QMessageBox> box(TPreviewDlg::CreateConfirmBox(parent, question));
    box->exec();
    return box->buttonRole(box->clickedButton()) == QMessageBox::YesRole;
}

}  // namespace

TPreviewDlg::TPreviewDlg(QWidget* parent) : QDialog(parent), confirmation_(AskWithConfirmBox) {
    setObjectName(QStringLiteral("PreviewDlg"));
    setWindowTitle(QStringLiteral("Dialog"));
    setFixedSize(476, 296);
    setSizeGripEnabled(false);
    setFont(ProgramFont());

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bevel1->setGeometry(4, 16, 282, 241);

    Image1 = new TPictureBox(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(10, 24, 270, 225);

    Label1 = new QLabel(QStringLiteral("MyPhoto"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(304, 16, 50, 13);
    Label1->setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11, true, false, true));

    Label2 = new QLabel(QStringLiteral("Pre-view my dream memory"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(8, 264, 182, 19);
    Label2->setFont(PixelFont(QStringLiteral("Times New Roman"), 16, true, true, false));
    // The captions size themselves to their text: the fonts found here may be wider than
    // the ones the sizes were made for.
    for (QLabel* label : {Label1, Label2}) {
        label->adjustSize();
    }

    CancelBtn = new QPushButton(QStringLiteral("EXIT"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(296, 260, 170, 25);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    FileListBox1 = new TFileListBox(this);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    FileListBox1->setGeometry(296, 32, 169, 217);
    connect(FileListBox1, &TFileListBox::Changed, this,
            [this] { RunHandler([this] { FileListBox1Change(); }); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    DELETEFILE1 = PopupMenu1->addAction(QStringLiteral("DELETE FILE"));
    DELETEFILE1->setObjectName(QStringLiteral("DELETEFILE1"));
    connect(DELETEFILE1, &QAction::triggered, this,
            [this] { RunHandler([this] { DELETEFILE1Click(); }); });
    FileListBox1->SetPopupMenu(PopupMenu1);

    setTabOrder(CancelBtn, FileListBox1);
}

void TPreviewDlg::SetConfirmation(Confirmation confirmation) {
    confirmation_ = confirmation ? std::move(confirmation) : Confirmation(AskWithConfirmBox);
}

QMessageBox* TPreviewDlg::CreateConfirmBox(QWidget* parent, const QString& question) {
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Confirm"), question,
                                QMessageBox::NoButton, parent);
    box->addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box->addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box->setEscapeButton(no);
    StyleMessageBox(*box);
    return box;
}

void TPreviewDlg::ShowFolder(const QString& folder) {
    // Made the list's directory as a folder only: a regular file of that name would
    // otherwise open the album on the folder around it.
    FileListBox1->SetDirectory(folder);
    FileListBox1->Update();
    exec();
}

void TPreviewDlg::FileListBox1Change() {
    if (FileListBox1->SelectedIndex() < 0) {
        return;
    }
    Image1->SetStretch(true);
    Image1->LoadFromFile(FileListBox1->FileName());
}

void TPreviewDlg::DELETEFILE1Click() {
    if (FileListBox1->SelectedIndex() < 0) {
        return;
    }
    const QString path = FileListBox1->FileName();
    const QFileInfo info(path);
    if (!info.isFile()) {
        return;
    }
    const QString question =
        QStringLiteral("Do you really want to delete ") + info.fileName() + QStringLiteral("?");
    if (!confirmation_(this, question)) {
        return;
    }
    QFile::remove(path);
    FileListBox1->Update();
}

}  // namespace lensmere
