#include "app/dialoglinks.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace lensmere {

PlaceholderAlbumDialog::PlaceholderAlbumDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PreviewDlg"));
    setWindowTitle(QStringLiteral("Album"));
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(this);
    layout->addWidget(text_);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok);
}

void PlaceholderAlbumDialog::ShowFolder(const QString& folder) {
    folder_ = folder;
    text_->setText(
        QStringLiteral("The album is not built into this program yet.\nPicture folder: ") + folder);
    exec();
}

PlaceholderPrintDialog::PlaceholderPrintDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PrintDlg"));
    setWindowTitle(QStringLiteral("Print"));
    auto* layout = new QVBoxLayout(this);
    text_ = new QLabel(QStringLiteral("Printing is not built into this program yet."), this);
    layout->addWidget(text_);
    picture_ = new QLabel(this);
    layout->addWidget(picture_);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok);
}

void PlaceholderPrintDialog::LoadPicture(const QString& file) {
    QPixmap picture(file);
    picture_->setPixmap(picture.scaled(322, 242, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

}  // namespace lensmere
