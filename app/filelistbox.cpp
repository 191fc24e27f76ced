#include "app/filelistbox.h"

#include <dirent.h>

#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>

#include "app/errors.h"

namespace lensmere {

namespace {
constexpr int kItemHeight = 13;
}

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (!reading_) {
            emit Changed();
        }
    });
}

void TFileListBox::SetDirectory(const QString& folder) {
    const QString absolute = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    DIR* dir = ::opendir(QFile::encodeName(absolute).constData());
    if (dir == nullptr) {
        throw InOutError(errno);
    }
    ::closedir(dir);
    if (absolute != directory_) {
        directory_ = absolute;
        Update();
    }
}

void TFileListBox::SetMask(const QString& mask) {
    if (mask != mask_) {
        mask_ = mask;
        Update();
    }
}

QString TFileListBox::FileName() const {
    const int index = SelectedIndex();
    if (index < 0) {
        return QString();
    }
    QString path = directory_;
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    return path + item(index)->text();
}

void TFileListBox::SetFileName(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir() || !info.exists()) {
        SetDirectory(path);
        return;
    }
    SetDirectory(info.absolutePath());
    const QStringList names = ItemNames();
    const int index = static_cast<int>(names.indexOf(info.fileName()));
    reading_ = true;
    setCurrentRow(index);
    reading_ = false;
}

bool TFileListBox::MatchesMask(const QString& name) const {
    const QStringList patterns = mask_.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& raw : patterns) {
        const QString pattern = raw.trimmed();
        if (pattern == QLatin1String("*.*") || pattern == QLatin1String("*")) {
            return true;
        }
        const QRegularExpression expression(
            QRegularExpression::wildcardToRegularExpression(pattern),
            QRegularExpression::CaseInsensitiveOption);
        if (expression.match(name).hasMatch()) {
            return true;
        }
    }
    return false;
}

void TFileListBox::Update() {
    reading_ = true;
    clear();
    QStringList names;
    if (!directory_.isEmpty()) {
        const QFileInfoList entries =
            QDir(directory_).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
        for (const QFileInfo& entry : entries) {
            if (MatchesMask(entry.fileName())) {
                names << entry.fileName();
            }
        }
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    for (const QString& name : names) {
        auto* entry = new QListWidgetItem(name, this);
        entry->setSizeHint(QSize(0, kItemHeight));
    }
    setCurrentRow(-1);
    clearSelection();
    reading_ = false;
    QListWidget::update();
}

QStringList TFileListBox::ItemNames() const {
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        names << item(i)->text();
    }
    return names;
}

int TFileListBox::SelectedIndex() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void TFileListBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListWidget::mousePressEvent(event);
}

void TFileListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QListWidget::mouseReleaseEvent(event);
}

void TFileListBox::contextMenuEvent(QContextMenuEvent* event) {
    if (popup_menu_ != nullptr) {
        popup_menu_->popup(event->globalPos());
        event->accept();
        return;
    }
    QListWidget::contextMenuEvent(event);
}

}  // namespace lensmere
