// The real program for the X display tests that drive its dialogs with real input. Without
// arguments it runs as it is; with a picture file and a title for the print jobs (so that a
// test finds its pages on the queue) it opens its print dialog on the picture and ends when
// the dialog closes. Reports lines on standard output:
//   shown <class> <name> <x> <y> <w> <h>    a window showed (frame-less screen geometry)
//   message <text>                          the text of a message box that showed
//   control <name> <x> <y> <w> <h>          where a control of the main window (when it
//                                           shows) or of the print dialog is
//   printer <name> <dpi> <paper> <orientation> <x> <y> <w> <h>
//                                           the current printer after a print or set-up:
//                                           resolution, paper ("A5", "portrait") and
//                                           printable area in its pixels
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPageLayout>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <iostream>

#include "app/printdialog.h"
#include "app/printersetupdialog.h"
#include "app/program_start.h"

namespace {

void Report(const char* kind, const QString& name, const QRect& r) {
    std::cout << kind << ' ' << name.toStdString() << ' ' << r.x() << ' ' << r.y() << ' '
              << r.width() << ' ' << r.height() << std::endl;
}

QRect OnScreen(const QWidget* w) {
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

class ShownWindows : public QObject {
  public:
    ShownWindows(QWidget* main_window, lensmere::TPrintDlg* dialog)
        : main_window_(main_window), dialog_(dialog) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* w = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && w != nullptr && w->isWindow()) {
            // Placed once the window manager has framed it.
            QTimer::singleShot(300, w, [this, w] { ReportWindow(w); });
        }
        return false;
    }

  private:
    void ReportWindow(QWidget* w) {
        Report("shown", QString::fromLatin1(w->metaObject()->className()) + ' ' + w->objectName(),
               OnScreen(w));
        if (auto* box = qobject_cast<QMessageBox*>(w))
            std::cout << "message " << box->text().toStdString() << std::endl;
        if (w == main_window_) {
            ReportControls(w, {"PrintButton", "SavetofileButton", "GetinfoBotton", "BookButton",
                               "ViewPICButton", "ExitButton"});
        }
        if (w == dialog_) {
            ReportControls(w, {"ComboBox1", "EditX", "EditY", "OKBtn", "CancelBtn", "Button1",
                               "PaintBox1", "image1", "Label1"});
        }
        if (qobject_cast<lensmere::TPrinterSetupDlg*>(w) != nullptr) {
            ReportControls(w, {"PrinterBox", "PaperBox", "PortraitButton", "LandscapeButton"});
        }
    }
    static void ReportControls(QWidget* w, std::initializer_list<const char*> names) {
        for (const char* name : names) {
            if (auto* control = w->findChild<QWidget*>(QString::fromLatin1(name)))
                Report("control", control->objectName(), OnScreen(control));
        }
    }
    QWidget* main_window_;
    lensmere::TPrintDlg* dialog_;
};

void ReportPrinter(lensmere::TPrintDlg& dialog) {
    QPrinter& printer = dialog.CurrentPrinter();
    const QPageLayout layout = printer.pageLayout();
    const bool landscape = layout.orientation() == QPageLayout::Landscape;
    Report("printer",
           QStringLiteral("%1 %2 %3 %4")
               .arg(printer.printerName())
               .arg(printer.resolution())
               .arg(layout.pageSize().key(), landscape ? "landscape" : "portrait"),
           layout.paintRectPixels(printer.resolution()));
}

}  // namespace

int main(int argc, char** argv) {
    const QString picture = argc > 2 ? QString::fromLocal8Bit(argv[1]) : QString();
    const QString title = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    return lensmere::RunProgram(argc, argv, [&](lensmere::TProgram& program) {
        lensmere::TPrintDlg* dialog = &program.PrintDlg();
        qApp->installEventFilter(new ShownWindows(&program.ZarvoLink(), dialog));
        QObject::connect(dialog->findChild<QPushButton*>(QStringLiteral("OKBtn")),
                         &QPushButton::clicked, dialog, [dialog] { ReportPrinter(*dialog); });
        QObject::connect(dialog->findChild<QPushButton*>(QStringLiteral("Button1")),
                         &QPushButton::clicked, dialog, [dialog] { ReportPrinter(*dialog); });
        if (picture.isEmpty())
            return;
        QTimer::singleShot(0, dialog, [dialog, picture, title] {
            dialog->CurrentPrinter().setDocName(title);
            dialog->LoadPicture(picture);
            dialog->PreparePicture();
            dialog->ShowModal();
            QCoreApplication::quit();
        });
    });
}
