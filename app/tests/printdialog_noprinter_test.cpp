// Runs with CUPS_SERVER pointing at a socket that does not exist: the system has no printer.
#include <gtest/gtest.h>

#include <QPrinterInfo>
#include <QPushButton>
#include <QTemporaryDir>

#include "dialogerror.h"
#include "jpegdecoder_testfiles.h"
#include "printdialog.h"

namespace lensmere {
namespace {

const std::string kNoPrinter = "There is no default printer currently selected";

template <class Work>
std::string errorOf(Work&& work) {
    try {
        work();
    } catch (const DialogError& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(PrintDialogWithoutPrinter, EveryUseOfThePrinterFails) {
    test::ensureApplication();
    ASSERT_TRUE(QPrinterInfo::availablePrinters().isEmpty())
        << "CUPS_SERVER=" << qgetenv("CUPS_SERVER").toStdString() << " still finds printers";

    QTemporaryDir dir;
    const QString path = dir.filePath("TEMP.bmp");
    test::writeFile(path, test::encodeBitmap24(test::testPattern(644, 484)));
    TPrintDlg dialog;
    int dialogsShown = 0;
    dialog.setDialogRunner([&](QDialog&) {
        ++dialogsShown;
        return int(QDialog::Accepted);
    });
    dialog.LoadPicture(path);
    dialog.PreparePicture();

    EXPECT_EQ(errorOf([&] { dialog.currentPrinter(); }), kNoPrinter);
    // Before the system print dialog: nothing is printed.
    EXPECT_EQ(errorOf([&] { dialog.PrintPicture(); }), kNoPrinter);
    EXPECT_EQ(dialogsShown, 0);
    // After the white fill of the preview.
    EXPECT_EQ(errorOf([&] { dialog.DrawPreview(); }), kNoPrinter);
    const QImage& canvas = dialog.PaintBox1->canvas();
    ASSERT_EQ(canvas.size(), QSize(185, 249));
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(184, 248), qRgb(255, 255, 255));
    EXPECT_EQ(errorOf([&] { dialog.Button1Click(); }), kNoPrinter);
    EXPECT_EQ(dialogsShown, 0);

    // Through the buttons the error goes to the error report and the dialog stays usable.
    std::vector<std::string> reported;
    setErrorReport([&](QWidget*, const std::exception& e) { reported.push_back(e.what()); });
    dialog.show();
    dialog.OKBtn->click();
    dialog.Button1->click();
    EXPECT_TRUE(dialog.isVisible());
    dialog.hide();
    setErrorReport(nullptr);
    EXPECT_EQ(reported, std::vector<std::string>({kNoPrinter, kNoPrinter}));
}

}  // namespace
}  // namespace lensmere
