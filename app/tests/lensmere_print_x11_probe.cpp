// The real program with its print dialog open on a picture, for the X display tests that
// drive it with real input. Arguments: the picture file and a title for the print jobs (so
// that a test finds its pages on the queue). Reports lines on standard output:
//   shown <class> <name> <x> <y> <w> <h>    a window showed (frame-less screen geometry)
//   control <name> <x> <y> <w> <h>          where a control of the print dialog is
//   printer <name> <dpi> <x> <y> <w> <h>    the current printer after a print or set-up:
//                                           resolution and printable area in its pixels
// The program ends when the print dialog closes.
#include <QCoreApplication>
#include <QEvent>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <iostream>

#include "app/printdialog.h"
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
    explicit ShownWindows(lensmere::TPrintDlg* dialog) : dialog_(dialog) {}

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
        if (w != dialog_)
            return;
        for (const char* name : {"ComboBox1", "EditX", "EditY", "OKBtn", "CancelBtn", "Button1",
                                 "PaintBox1", "image1", "Label1"}) {
            if (auto* control = w->findChild<QWidget*>(QString::fromLatin1(name)))
                Report("control", control->objectName(), OnScreen(control));
        }
    }
    lensmere::TPrintDlg* dialog_;
};

void ReportPrinter(lensmere::TPrintDlg& dialog) {
    QPrinter& printer = dialog.currentPrinter();
    Report("printer", printer.printerName() + ' ' + QString::number(printer.resolution()),
           printer.pageLayout().paintRectPixels(printer.resolution()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: lensmere_print_x11_probe PICTURE TITLE\n";
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const QString title = QString::fromLocal8Bit(argv[2]);
    return lensmere::RunProgram(argc, argv, [&](lensmere::TProgram& program) {
        lensmere::TPrintDlg* dialog = &program.PrintDlg();
        qApp->installEventFilter(new ShownWindows(dialog));
        QObject::connect(dialog->OKBtn, &QPushButton::clicked, dialog,
                         [dialog] { ReportPrinter(*dialog); });
        QObject::connect(dialog->Button1, &QPushButton::clicked, dialog,
                         [dialog] { ReportPrinter(*dialog); });
        QTimer::singleShot(0, dialog, [dialog, picture, title] {
            dialog->currentPrinter().setDocName(title);
            dialog->LoadPicture(picture);
            dialog->PreparePicture();
            dialog->ShowModal();
            QCoreApplication::quit();
        });
    });
}
