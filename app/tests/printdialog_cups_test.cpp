// Prints through the system's default printer, which must be a cups-pdf queue: the page it
// writes is rendered and compared with the picture. Skips when there is no such queue.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryDir>
#include <QTest>

#include "jpegdecoder_testfiles.h"
#include "printdialog.h"
#include "printdialog_testutil.h"

namespace lensmere {
namespace {

TEST(PrintDialogCups, PrintsOnTheDefaultQueue) {
    test::ensureApplication();
    const QPrinterInfo system = QPrinterInfo::defaultPrinter();
    if (system.isNull()) {
        GTEST_SKIP() << "no CUPS queue";
    }
    const QString folder = test::cupsPdfFolder(system);
    if (folder.isEmpty()) {
        GTEST_SKIP() << "the default printer " << system.printerName().toStdString()
                     << " is not a known cups-pdf queue";
    }
    if (!test::havePdfRenderer()) {
        GTEST_SKIP() << "pdftoppm not available";
    }

    QTemporaryDir dir;
    const QImage blocks = test::blockPattern(644, 484);
    const QString path = dir.filePath("TEMP.bmp");
    test::writeFile(path, test::encodeBitmap24(blocks));
    TPrintDlg dialog;
    int dialogsShown = 0;
    dialog.setDialogRunner([&](QDialog&) {
        ++dialogsShown;
        return int(QDialog::Accepted);
    });
    dialog.LoadPicture(path);
    dialog.PreparePicture();

    QPrinter& printer = dialog.currentPrinter();
    EXPECT_EQ(printer.printerName(), system.printerName()) << "the system default is current";
    // A title of our own finds our page among other jobs on the queue.
    const QString title = QStringLiteral("lensmeretest%1x%2")
                              .arg(QCoreApplication::applicationPid())
                              .arg(QDateTime::currentMSecsSinceEpoch());
    printer.setDocName(title);

    QComboBox* combo = dialog.ComboBox1;
    combo->showPopup();
    QTest::mouseClick(combo->view()->viewport(), Qt::LeftButton, {},
                      combo->view()->visualRect(combo->model()->index(2, 0)).center());
    combo->hidePopup();
    ASSERT_EQ(dialog.sizeFactor(), 3.0f);
    dialog.EditX->setText("100");
    dialog.EditY->setText("50");
    dialog.PrintPicture();
    EXPECT_EQ(dialogsShown, 1);

    const int dpi = printer.resolution();
    const QPoint origin = printer.pageLayout().paintRectPixels(dpi).topLeft();
    const QString pdf = test::waitForCupsPdf(folder, title, 60000);
    ASSERT_FALSE(pdf.isEmpty()) << "no PDF from the queue in " << folder.toStdString();

    // (100, 50)-(2032, 1502) in the printable area, with 10 pixels around it.
    const QRect region(origin.x() + 90, origin.y() + 40, 1952, 1472);
    const QImage page = test::renderPdf(pdf, dpi, region);
    QFile::remove(pdf);
    ASSERT_FALSE(page.isNull());
    for (const int y : {20, 700, 1450}) {
        EXPECT_TRUE(test::whiteish(page.pixel(8, y))) << y;
        EXPECT_FALSE(test::whiteish(page.pixel(12, y))) << y;
        EXPECT_FALSE(test::whiteish(page.pixel(1939, y))) << y;
        EXPECT_TRUE(test::whiteish(page.pixel(1944, y))) << y;
    }
    for (const int x : {20, 900, 1930}) {
        EXPECT_TRUE(test::whiteish(page.pixel(x, 8))) << x;
        EXPECT_FALSE(test::whiteish(page.pixel(x, 12))) << x;
        EXPECT_FALSE(test::whiteish(page.pixel(x, 1459))) << x;
        EXPECT_TRUE(test::whiteish(page.pixel(x, 1464))) << x;
    }
    int misplaced = 0;
    for (int by = 0; by < 484 / 16; ++by) {
        for (int bx = 0; bx < 644 / 16; ++bx) {
            const int i = 16 * bx + 8, j = 16 * by + 8;
            const QRgb printed = page.pixel(10 + 3 * i + 1, 10 + 3 * j + 1);
            misplaced += test::matchesNear(blocks, i, j, printed, 12) ? 0 : 1;
        }
    }
    EXPECT_EQ(misplaced, 0);
}

}  // namespace
}  // namespace lensmere
