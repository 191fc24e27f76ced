// Runs with CUPS_SERVER pointing at a socket that does not exist: the system has no printer.
#include <gtest/gtest.h>

#include <QPrinterInfo>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/errors.h"
#include "app/printdialog.h"
#include "app/tests/picture_testfiles.h"
#include "app/tests/printdialog_testutil.h"

namespace lensmere {
namespace {

const std::string kNoPrinter = "There is no default printer currently selected";

template <class Work>
std::string ErrorOf(Work&& work) {
    try {
        work();
    } catch (const Error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(PrintDialogWithoutPrinter, EveryUseOfThePrinterFails) {
    test::EnsureApplication();
    ASSERT_TRUE(QPrinterInfo::availablePrinters().isEmpty())
        << "CUPS_SERVER=" << qgetenv("CUPS_SERVER").toStdString() << " still finds printers";

    QTemporaryDir dir;
    const QString path = dir.filePath("TEMP.bmp");
    test::WriteFile(path, test::EncodeBitmap24(test::TestPattern(644, 484)));
    TPrintDlg dialog;
    int dialogs_shown = 0;
    dialog.SetDialogRunner([&](QDialog&) {
        ++dialogs_shown;
        return int(QDialog::Accepted);
    });
    dialog.LoadPicture(path);
    dialog.PreparePicture();

    EXPECT_EQ(ErrorOf([&] { dialog.CurrentPrinter(); }), kNoPrinter);
    // Before the system print dialog: nothing is printed.
    EXPECT_EQ(ErrorOf([&] { dialog.PrintPicture(); }), kNoPrinter);
    EXPECT_EQ(dialogs_shown, 0);
    // After the white fill of the preview.
    EXPECT_EQ(ErrorOf([&] { dialog.DrawPreview(); }), kNoPrinter);
    const QImage& canvas = test::Control<TPreviewBox>(dialog, "PaintBox1")->Canvas();
    ASSERT_EQ(canvas.size(), QSize(185, 249));
    EXPECT_EQ(canvas.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(184, 248), qRgb(255, 255, 255));
    EXPECT_EQ(ErrorOf([&] { dialog.Button1Click(); }), kNoPrinter);
    EXPECT_EQ(dialogs_shown, 0);

    // Through the buttons the error goes to the error report and the dialog stays usable.
    std::vector<std::string> reported;
    SetMessageHandler([&](const QString& text) { reported.push_back(text.toStdString()); });
    dialog.show();
    test::Control<QPushButton>(dialog, "OKBtn")->click();
    test::Control<QPushButton>(dialog, "Button1")->click();
    EXPECT_TRUE(dialog.isVisible());
    dialog.hide();
    SetMessageHandler({});
    EXPECT_EQ(reported, std::vector<std::string>({kNoPrinter, kNoPrinter}));
}

}  // namespace
}  // namespace lensmere
