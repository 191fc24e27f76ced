// A list of the ordinary files in one folder, one selectable at a time.
#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

class QMenu;

namespace lensmere {

class TFileListBox : public QListWidget {
    Q_OBJECT
  public:
    explicit TFileListBox(QWidget* parent = nullptr);

    // An absolute folder. Changing it re-reads the list; a folder that cannot be opened
    // raises the file error text for its system error ("File not found", ...) and leaves
    // the list as it was.
    QString Directory() const { return directory_; }
    void SetDirectory(const QString& folder);

    // Patterns separated by ";", matched without regard to case; "*.*" matches every name.
    QString mask() const { return mask_; }
    void SetMask(const QString& mask);

    // Full path of the selected file; empty when nothing is selected. Setting it to a folder
    // makes that folder the directory; setting it to a file also selects that file.
    QString FileName() const;
    void SetFileName(const QString& path);

    // Re-reads the directory: bare names of its ordinary files that match the mask (no
    // folders, hidden or special files), sorted alphabetically, nothing selected.
    void Update();

    QStringList ItemNames() const;
    int SelectedIndex() const;

    // Shown on a right click, which leaves the selection as it is.
    void SetPopupMenu(QMenu* menu) { popup_menu_ = menu; }
    QMenu* PopupMenu() const { return popup_menu_; }

  signals:
    // The user selected another item (not raised while the list is re-read).
    void Changed();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    bool MatchesMask(const QString& name) const;

    QString directory_;
    QString mask_ = QStringLiteral("*.*");
    QMenu* popup_menu_ = nullptr;
    bool reading_ = false;
};

}  // namespace lensmere
