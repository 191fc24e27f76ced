// Prints through the system's default printer, which must be a cups-pdf queue: the page it
// writes is rendered and compared with the picture. Skips when there is no such queue.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/errors.h"
#include "app/printdialog.h"
#include "app/printersettings.h"
#include "app/systemprintdialog.h"
#include "app/tests/picture_testfiles.h"
#include "app/tests/printdialog_testutil.h"

namespace lensmere {
namespace {

TEST(PrintDialogCups, PrintsOnTheDefaultQueue) {
    test::EnsureApplication();
    const QPrinterInfo system = QPrinterInfo::defaultPrinter();
    if (system.isNull()) {
        GTEST_SKIP() << "no CUPS queue";
    }
    const QString folder = test::CupsPdfFolder(system);
    if (folder.isEmpty()) {
        GTEST_SKIP() << "the default printer " << system.printerName().toStdString()
                     << " is not a known cups-pdf queue";
    }
    if (!test::HavePdfRenderer()) {
        GTEST_SKIP() << "pdftoppm not available";
    }

    QTemporaryDir dir;
    const QImage blocks = test::BlockPattern(644, 484);
    const QString path = dir.filePath("TEMP.bmp");
    test::WriteFile(path, test::EncodeBitmap24(blocks));
    TPrintDlg dialog;
    int dialogs_shown = 0;
    dialog.SetDialogRunner([&](QDialog&) {
        ++dialogs_shown;
        return int(QDialog::Accepted);
    });
    dialog.LoadPicture(path);
    dialog.PreparePicture();

    QPrinter& printer = dialog.CurrentPrinter();
    EXPECT_EQ(printer.printerName(), system.printerName()) << "the system default is current";
    // Printer pixels are the queue's own.
    const int listed = test::ListedResolution(system.printerName());
    if (listed > 0) {
        EXPECT_EQ(printer.resolution(), listed);
    }
    // A title of our own finds our page among other jobs on the queue.
    const QString title = QStringLiteral("lensmeretest%1x%2")
                              .arg(QCoreApplication::applicationPid())
                              .arg(QDateTime::currentMSecsSinceEpoch());
    printer.setDocName(title);

    QComboBox* combo = test::Control<QComboBox>(dialog, "ComboBox1");
    combo->showPopup();
    QTest::mouseClick(combo->view()->viewport(), Qt::LeftButton, {},
                      combo->view()->visualRect(combo->model()->index(2, 0)).center());
    combo->hidePopup();
    ASSERT_EQ(dialog.SizeFactor(), 3.0f);
    test::Control<QLineEdit>(dialog, "EditX")->setText("100");
    test::Control<QLineEdit>(dialog, "EditY")->setText("50");
    dialog.PrintPicture();
    EXPECT_EQ(dialogs_shown, 1);

    const int dpi = printer.resolution();
    const QPoint origin = printer.pageLayout().paintRectPixels(dpi).topLeft();
    const QString pdf = test::WaitForCupsPdf(folder, title, 60000);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF from the queue in " << folder.toStdString();

    // (100, 50)-(2032, 1502) in the printable area, with 10 pixels around it.
    const QRect region(origin.x() + 90, origin.y() + 40, 1952, 1472);
    const QImage page = test::RenderPdf(pdf, dpi, region);
    QFile::remove(pdf);
    ASSERT_FALSE(page.isNull());
    for (const int y : {20, 700, 1450}) {
        EXPECT_TRUE(test::Whiteish(page.pixel(8, y))) << y;
        EXPECT_FALSE(test::Whiteish(page.pixel(12, y))) << y;
        EXPECT_FALSE(test::Whiteish(page.pixel(1939, y))) << y;
        EXPECT_TRUE(test::Whiteish(page.pixel(1944, y))) << y;
    }
    for (const int x : {20, 900, 1930}) {
        EXPECT_TRUE(test::Whiteish(page.pixel(x, 8))) << x;
        EXPECT_FALSE(test::Whiteish(page.pixel(x, 12))) << x;
        EXPECT_FALSE(test::Whiteish(page.pixel(x, 1459))) << x;
        EXPECT_TRUE(test::Whiteish(page.pixel(x, 1464))) << x;
    }
    int misplaced = 0;
    for (int by = 0; by < 484 / 16; ++by) {
        for (int bx = 0; bx < 644 / 16; ++bx) {
            const int i = 16 * bx + 8, j = 16 * by + 8;
            const QRgb printed = page.pixel(10 + 3 * i + 1, 10 + 3 * j + 1);
            misplaced += test::MatchesNear(blocks, i, j, printed, 12) ? 0 : 1;
        }
    }
    EXPECT_EQ(misplaced, 0);
}

// The printer set-up chooses the printer as well as paper and orientation; printer pixels and
// the preview follow the printer chosen.
TEST(PrintDialogCups, PrinterSetupChoosesThePrinterPaperAndOrientation) {
    test::EnsureApplication();
    if (QPrinterInfo::defaultPrinter().isNull()) {
        GTEST_SKIP() << "no CUPS queue";
    }
    const QString name =
        QStringLiteral("lensmere-setup-%1").arg(QCoreApplication::applicationPid());
    test::TemporaryCupsPdfQueue queue(name, 600);
    if (!queue.Made()) {
        GTEST_SKIP() << "cannot add a cups-pdf queue (needs root and lpadmin)";
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("TEMP.bmp");
    test::WriteFile(path, test::EncodeBitmap24(test::BlockPattern(644, 484)));
    TPrintDlg dialog;
    dialog.LoadPicture(path);
    QPrinter& printer = dialog.CurrentPrinter();
    ASSERT_NE(printer.printerName(), name);
    ASSERT_NE(printer.resolution(), 600);

    bool answered = false;
    dialog.SetDialogRunner([&](QDialog& setup) {
        auto* printers = setup.findChild<QComboBox*>("PrinterBox");
        auto* papers = setup.findChild<QComboBox*>("PaperBox");
        auto* landscape = setup.findChild<QRadioButton*>("LandscapeButton");
        if (printers == nullptr || papers == nullptr || landscape == nullptr) {
            ADD_FAILURE() << "set-up controls missing";
            return int(QDialog::Rejected);
        }
        EXPECT_EQ(printers->currentText(), printer.printerName());
        printers->setCurrentIndex(printers->findText(name));
        EXPECT_GT(papers->count(), 1);
        papers->setCurrentIndex(papers->findText("A5"));
        landscape->setChecked(true);
        answered = papers->currentIndex() >= 0;
        setup.accept();
        return setup.result();
    });
    test::Control<QLineEdit>(dialog, "EditX")->setText("0");
    dialog.Button1Click();
    ASSERT_TRUE(answered) << "no A5 paper offered";
    EXPECT_EQ(printer.printerName(), name);
    EXPECT_EQ(printer.resolution(), 600);
    EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::A5);
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
    const QSize page = dialog.PageSize();
    EXPECT_GT(page.width(), page.height());
    // About 8.3 x 5.8 inches, less the margins, at 600 dpi.
    EXPECT_GT(page.width(), 4500);
    EXPECT_LT(page.width(), 5000);
    // The preview was drawn for that page: 644 x 484 at 185 / page width.
    const QImage& canvas = test::Control<TPreviewBox>(dialog, "PaintBox1")->Canvas();
    ASSERT_FALSE(canvas.isNull());
    const int pw = 644 * 185 / page.width();
    EXPECT_NE(canvas.pixel(pw - 2, 2), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(pw + 1, 2), qRgb(255, 255, 255));
}

// A print the spooler cannot take says why and changes nothing: not the printer (also when the
// system dialog had changed its paper), not the preview.
TEST(PrintDialogCups, PrintTheSpoolerCannotTakeChangesNothing) {
    test::EnsureApplication();
    if (QPrinterInfo::defaultPrinter().isNull()) {
        GTEST_SKIP() << "no CUPS queue";
    }
    const QString name =
        QStringLiteral("lensmere-refuse-%1").arg(QCoreApplication::applicationPid());
    struct Case {
        const char* what;
        std::function<void(test::TemporaryCupsPdfQueue&)> before_print;
        std::function<void()> after_print;
        int dialogs;  // system print dialogs shown
        QString reason;
    };
    const Case cases[] = {
        {"queue removed", [](test::TemporaryCupsPdfQueue& queue) { ASSERT_TRUE(queue.Remove()); },
         [] {}, 0, "The printer or class does not exist."},
        {"queue refusing jobs",
         [&](test::TemporaryCupsPdfQueue&) {
             ASSERT_EQ(QProcess::execute("cupsreject", {name}), 0);
         },
         [] {}, 1, QStringLiteral("Destination \"%1\" is not accepting jobs.").arg(name)},
        {"spooler gone", [](test::TemporaryCupsPdfQueue&) { cupsSetServer("/nonexistent.sock"); },
         [] { cupsSetServer(nullptr); }, 0,
         "The print spooler at /nonexistent.sock cannot be reached."},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("TEMP.bmp");
    test::WriteFile(path, test::EncodeBitmap24(test::BlockPattern(644, 484)));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TemporaryCupsPdfQueue queue(name, 300);
        if (!queue.Made()) {
            GTEST_SKIP() << "cannot add a cups-pdf queue (needs root and lpadmin)";
        }
        TPrintDlg dialog;
        dialog.LoadPicture(path);
        dialog.SetCurrentPrinter(
            std::make_unique<QPrinter>(QPrinterInfo::printerInfo(name), QPrinter::HighResolution));
        QPrinter& printer = dialog.CurrentPrinter();
        ASSERT_EQ(printer.printerName(), name);
        printer.setPageSize(QPageSize(QPageSize::A5));
        const QPageLayout layout = printer.pageLayout();
        int dialogs = 0;
        dialog.SetDialogRunner([&](QDialog&) {
            ++dialogs;
            printer.setPageSize(QPageSize(QPageSize::A3));  // as a choice in the dialog
            return int(QDialog::Accepted);
        });
        c.before_print(queue);
        std::vector<QString> reported;
        SetMessageHandler([&](const QString& text) { reported.push_back(text); });
        test::Control<QPushButton>(dialog, "OKBtn")->click();
        SetMessageHandler({});
        c.after_print();

        EXPECT_EQ(dialogs, c.dialogs);
        ASSERT_EQ(reported.size(), 1u);
        const QString prefix = QStringLiteral("Cannot print on \"%1\": ").arg(name);
        EXPECT_EQ(reported[0], prefix + c.reason);
        EXPECT_EQ(printer.printerName(), name);
        EXPECT_TRUE(printer.pageLayout().isEquivalentTo(layout)) << "the paper is as it was";
        EXPECT_TRUE(test::Control<TPreviewBox>(dialog, "PaintBox1")->Canvas().isNull())
            << "the preview is not redrawn";
    }
}

// Printer Setup opened on a printer whose queue has gone offers the system's default printer
// in its place, with that printer's papers.
TEST(PrintDialogCups, PrinterSetupOffersTheDefaultForAQueueThatWent) {
    test::EnsureApplication();
    const QPrinterInfo system = QPrinterInfo::defaultPrinter();
    if (system.isNull()) {
        GTEST_SKIP() << "no CUPS queue";
    }
    const QString name = QStringLiteral("lensmere-went-%1").arg(QCoreApplication::applicationPid());
    test::TemporaryCupsPdfQueue queue(name, 300);
    if (!queue.Made()) {
        GTEST_SKIP() << "cannot add a cups-pdf queue (needs root and lpadmin)";
    }
    TPrintDlg dialog;
    dialog.SetCurrentPrinter(
        std::make_unique<QPrinter>(QPrinterInfo::printerInfo(name), QPrinter::HighResolution));
    ASSERT_TRUE(queue.Remove());
    QString offered;
    int papers = 0;
    dialog.SetDialogRunner([&](QDialog& setup) {
        offered = test::Control<QComboBox>(setup, "PrinterBox")->currentText();
        papers = test::Control<QComboBox>(setup, "PaperBox")->count();
        return int(QDialog::Rejected);
    });
    dialog.Button1Click();
    EXPECT_EQ(offered, system.printerName());
    EXPECT_GT(papers, 1);
}

// Qt's print dialog sets the paper to the queue's default when it is accepted and opens its
// printer properties on that default: the paper and orientation set up stay, in the properties
// too, unless the user accepts others there.
TEST(PrintDialogCups, SystemPrintDialogKeepsThePaperSetUp) {
    test::EnsureApplication();
    const QPrinterInfo queue = QPrinterInfo::defaultPrinter();
    if (queue.isNull()) {
        GTEST_SKIP() << "no CUPS queue";
    }
    struct Case {
        const char* what;
        bool other_queue;  // chosen in the dialog
        bool open_properties;
        bool accept_properties;
        QPageSize::PageSizeId paper;  // afterwards
        QPageLayout::Orientation orientation;
    };
    const Case cases[] = {
        {"accepted as it opened", false, false, false, QPageSize::A5, QPageLayout::Landscape},
        {"another queue chosen", true, false, false, QPageSize::A5, QPageLayout::Landscape},
        {"A3 portrait chosen in the properties, cancelled", false, true, false, QPageSize::A5,
         QPageLayout::Landscape},
        {"A3 portrait chosen in the properties", false, true, true, QPageSize::A3,
         QPageLayout::Portrait},
    };
    const QString other =
        QStringLiteral("lensmere-other-%1").arg(QCoreApplication::applicationPid());
    test::TemporaryCupsPdfQueue other_queue(other, 300);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.other_queue && !other_queue.Made()) {
            continue;  // cannot add a queue (needs root and lpadmin)
        }
        QPrinter printer(queue, QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::A5));
        printer.setPageOrientation(QPageLayout::Landscape);
        const QPageLayout layout = printer.pageLayout();
        const TPrinterSettings before(printer);
        QPrintDialog system(&printer);
        QString shown_paper;
        bool shown_landscape = false;
        const bool accepted = RunSystemPrintDialog(system, printer, before, [&](QDialog& d) {
            if (c.open_properties) {
                // What the user sees and does in the properties, once they show.
                QTimer::singleShot(0, &d, [&] {
                    QDialog* properties = nullptr;
                    for (QDialog* child : d.findChildren<QDialog*>()) {
                        if (child->inherits("QPrintPropertiesDialog") && child->isVisible()) {
                            properties = child;
                        }
                    }
                    if (properties == nullptr) {
                        ADD_FAILURE() << "no printer properties showing";
                        return;
                    }
                    auto* sizes = properties->findChild<QComboBox*>("pageSizeCombo");
                    auto* landscape = properties->findChild<QRadioButton*>("landscape");
                    auto* portrait = properties->findChild<QRadioButton*>("portrait");
                    if (sizes == nullptr || landscape == nullptr || portrait == nullptr) {
                        ADD_FAILURE() << "printer properties without their controls";
                        properties->reject();
                        return;
                    }
                    shown_paper = sizes->currentText();
                    shown_landscape = landscape->isChecked();
                    sizes->setCurrentIndex(sizes->findText("A3"));
                    portrait->click();
                    if (c.accept_properties) {
                        properties->accept();
                    } else {
                        properties->reject();
                    }
                });
                auto* button = d.findChild<QPushButton*>("properties");
                if (button == nullptr) {
                    ADD_FAILURE() << "no properties button";
                } else {
                    button->click();
                }
            }
            if (c.other_queue) {
                auto* printers = d.findChild<QComboBox*>("printers");
                if (printers == nullptr) {
                    ADD_FAILURE() << "no list of printers";
                } else {
                    printers->setCurrentIndex(printers->findText(other));
                }
            }
            d.accept();
            return d.result();
        });
        EXPECT_TRUE(accepted);
        if (c.open_properties) {
            EXPECT_EQ(shown_paper, "A5") << "the properties open on the paper set up";
            EXPECT_TRUE(shown_landscape);
        }
        EXPECT_EQ(printer.pageLayout().pageSize().id(), c.paper);
        EXPECT_EQ(printer.pageLayout().orientation(), c.orientation);
        if (!c.accept_properties) {
            EXPECT_TRUE(printer.pageLayout().isEquivalentTo(layout));
        }
        EXPECT_EQ(printer.printerName(), c.other_queue ? other : queue.printerName());
    }
}

}  // namespace
}  // namespace lensmere
