#include "app/printdialog.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <climits>

#include "app/albumdialog.h"
#include "app/bitmapfile.h"
#include "app/dialogstyle.h"
#include "app/errors.h"
#include "app/jpegfile.h"
#include "app/printersetupdialog.h"
#include "app/tests/picture_testfiles.h"
#include "app/tests/printdialog_testutil.h"

namespace lensmere {
namespace {

using test::EdgesOf;
using Edges = std::array<int, 4>;

TEST(PrintArithmetic, PageRectangle) {
    EXPECT_EQ(EdgesOf(PagePictureRect(644, 484, 3, 100, 50)), Edges({100, 50, 2032, 1502}));
    EXPECT_EQ(EdgesOf(PagePictureRect(644, 484, 1, 0, 0)), Edges({0, 0, 644, 484}));
    EXPECT_EQ(EdgesOf(PagePictureRect(644, 484, 4, -100, -7)), Edges({-100, -7, 2476, 1929}));
    // X and Y are held in single precision: 16777217 becomes 16777216.
    EXPECT_EQ(EdgesOf(PagePictureRect(644, 484, 1, 16777217, 0))[0], 16777216);
    // Beyond the int range the edges stay at its ends rather than wrap.
    EXPECT_EQ(EdgesOf(PagePictureRect(644, 484, 1, INT_MAX, INT_MIN))[0], INT_MAX);
    EXPECT_EQ(EdgesOf(PagePictureRect(644, 484, 1, INT_MAX, INT_MIN))[1], INT_MIN);
}

TEST(PrintArithmetic, PreviewRectangle) {
    EXPECT_EQ(EdgesOf(PreviewPictureRect(644, 484, 1, 0, 0, 4800, 6600, 185, 249)),
              Edges({0, 0, 24, 18}));
    // 644 * 3 * 185 / 4792 = 74.58..., 185 * 100 / 4792 = 3.86...
    EXPECT_EQ(EdgesOf(PreviewPictureRect(644, 484, 3, 100, 50, 4792, 6851, 185, 249)),
              Edges({3, 1, 78, 54}));
    // Truncation goes toward zero on both sides of it.
    EXPECT_EQ(EdgesOf(PreviewPictureRect(644, 484, 1, -400, -400, 4800, 6600, 185, 249)),
              Edges({-15, -15, 9, 3}));
}

TEST(PrintArithmetic, FieldIntegers) {
    EXPECT_EQ(FieldInteger("0"), 0);
    EXPECT_EQ(FieldInteger("-250"), -250);
    EXPECT_EQ(FieldInteger("+7"), 7);
    EXPECT_EQ(FieldInteger("2147483647"), INT_MAX);
    for (const char* bad : {"", "abc", "1.5", " 3", "3 ", "2147483648", "0x10", "--1"}) {
        try {
            FieldInteger(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()),
                      std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

class PrintDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureApplication();
        ASSERT_TRUE(dir_.isValid());
        picture_ = test::TestPattern(644, 484);
        picture_path_ = dir_.filePath("TEMP.bmp");
        test::WriteFile(picture_path_, test::EncodeBitmap24(picture_));
        dialog_ = std::make_unique<TPrintDlg>();
        dialog_->SetDialogRunner([this](QDialog& dialog) {
            shown_dialogs_.push_back(&dialog);
            return answer_;
        });
        dialog_->LoadPicture(picture_path_);
        dialog_->PreparePicture();
    }

    void UsePdf(int width, int height, int margin) {
        pdf_path_ = dir_.filePath("out.pdf");
        dialog_->SetCurrentPrinter(test::PdfPrinter(pdf_path_, width, height, margin));
    }

    // The dialog's controls, by their names.
    QFrame* Bevel1() const { return test::Control<QFrame>(*dialog_, "Bevel1"); }
    QFrame* Bevel2() const { return test::Control<QFrame>(*dialog_, "Bevel2"); }
    TPictureBox* image1() const { return test::Control<TPictureBox>(*dialog_, "image1"); }
    QLabel* Label1() const { return test::Control<QLabel>(*dialog_, "Label1"); }
    QLabel* Label2() const { return test::Control<QLabel>(*dialog_, "Label2"); }
    QLabel* Label3() const { return test::Control<QLabel>(*dialog_, "Label3"); }
    TPreviewBox* PaintBox1() const { return test::Control<TPreviewBox>(*dialog_, "PaintBox1"); }
    QPushButton* OKBtn() const { return test::Control<QPushButton>(*dialog_, "OKBtn"); }
    QPushButton* CancelBtn() const { return test::Control<QPushButton>(*dialog_, "CancelBtn"); }
    QPushButton* Button1() const { return test::Control<QPushButton>(*dialog_, "Button1"); }
    QComboBox* ComboBox1() const { return test::Control<QComboBox>(*dialog_, "ComboBox1"); }
    QLineEdit* EditX() const { return test::Control<QLineEdit>(*dialog_, "EditX"); }
    QLineEdit* EditY() const { return test::Control<QLineEdit>(*dialog_, "EditY"); }

    // The user opens the list and clicks an item.
    void ChooseFactor(int index) {
        QComboBox* combo = ComboBox1();
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        const QRect item = view->visualRect(combo->model()->index(index, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
        combo->hidePopup();
    }

    QString BlocksPath() {
        const QString path = dir_.filePath("blocks.bmp");
        if (!QFile::exists(path)) {
            test::WriteFile(path, test::EncodeBitmap24(blocks_));
        }
        return path;
    }

    bool CanvasAllWhite() const {
        const QImage& canvas = PaintBox1()->Canvas();
        for (int y = 0; y < canvas.height(); ++y) {
            for (int x = 0; x < canvas.width(); ++x) {
                if (canvas.pixel(x, y) != qRgb(255, 255, 255)) {
                    return false;
                }
            }
        }
        return !canvas.isNull();
    }

    QTemporaryDir dir_;
    QImage picture_;
    QImage blocks_ = test::BlockPattern(644, 484);
    QString picture_path_;
    QString pdf_path_;
    std::unique_ptr<TPrintDlg> dialog_;
    std::vector<QDialog*> shown_dialogs_;
    int answer_ = QDialog::Accepted;
};

TEST_F(PrintDialogTest, WindowAndControls) {
    TPrintDlg& d = *dialog_;
    EXPECT_EQ(d.windowTitle(), "Draw");
    EXPECT_EQ(d.objectName(), "PrintDlg");
    EXPECT_EQ(d.size(), QSize(621, 360));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_EQ(image1()->geometry(), QRect(13, 16, 404, 297));
    EXPECT_TRUE(image1()->Stretch());
    EXPECT_EQ(PaintBox1()->geometry(), QRect(430, 32, 185, 249));
    EXPECT_EQ(Bevel1()->geometry(), QRect(8, 8, 417, 313));
    EXPECT_EQ(Bevel2()->geometry(), QRect(426, 30, 193, 254));
    EXPECT_EQ(Label1()->text(), "SIZE");
    EXPECT_EQ(Label2()->text(), "X");
    EXPECT_EQ(Label3()->text(), "Y");
    EXPECT_EQ(OKBtn()->text(), "Print");
    EXPECT_TRUE(OKBtn()->isDefault());
    EXPECT_EQ(CancelBtn()->text(), "Cancel");
    // "&&" shows as one ampersand and makes no mnemonic.
    EXPECT_EQ(Button1()->text(), "Printer Setup && Pre-view");
    EXPECT_TRUE(QKeySequence::mnemonic(Button1()->text()).isEmpty());
    EXPECT_EQ(Button1()->geometry(), QRect(296, 332, 147, 25));
    EXPECT_EQ(ComboBox1()->count(), 4);
    EXPECT_EQ(ComboBox1()->itemText(3), "x4");
    EXPECT_EQ(ComboBox1()->currentText(), "x1");
    EXPECT_EQ(ComboBox1()->currentIndex(), -1);
    EXPECT_EQ(EditX()->text(), "0");
    EXPECT_EQ(EditY()->text(), "0");
    EXPECT_EQ(d.SizeFactor(), 1.0f);
}

TEST_F(PrintDialogTest, OnlyAChoiceFromTheListSetsTheFactor) {
    dialog_->show();
    QLineEdit* field = ComboBox1()->lineEdit();
    field->selectAll();
    QTest::keyClicks(field, "x4");
    EXPECT_EQ(ComboBox1()->currentText(), "x4");
    EXPECT_EQ(dialog_->SizeFactor(), 1.0f);
    ChooseFactor(1);
    EXPECT_EQ(dialog_->SizeFactor(), 2.0f);
    // Typing "x4" and leaving the field is no choice from the list.
    dialog_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
    field->setFocus(Qt::MouseFocusReason);
    field->selectAll();
    QTest::keyClicks(field, "x4");
    EditX()->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(EditX()->hasFocus());
    EXPECT_EQ(ComboBox1()->currentText(), "x4");
    EXPECT_EQ(dialog_->SizeFactor(), 2.0f);
    field->setFocus(Qt::MouseFocusReason);
    // Typing "x4" and pressing Enter is still no choice from the list.
    answer_ = QDialog::Rejected;
    UsePdf(4800, 6600, 0);
    field->selectAll();
    QTest::keyClicks(field, "x4");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(dialog_->SizeFactor(), 2.0f);
    ChooseFactor(3);
    EXPECT_EQ(dialog_->SizeFactor(), 4.0f);
    ChooseFactor(0);
    EXPECT_EQ(dialog_->SizeFactor(), 1.0f);
    dialog_->hide();
}

TEST_F(PrintDialogTest, PreviewIsEmptyUntilDrawnAndFollowsThePage) {
    UsePdf(4800, 6600, 0);
    dialog_->show();
    EXPECT_TRUE(PaintBox1()->Canvas().isNull());
    dialog_->DrawPreview();
    const QImage& canvas = PaintBox1()->Canvas();
    ASSERT_EQ(canvas.size(), QSize(185, 249));
    const QRgb white = qRgb(255, 255, 255);
    EXPECT_NE(canvas.pixel(0, 0), white);
    EXPECT_NE(canvas.pixel(23, 17), white);
    EXPECT_EQ(canvas.pixel(24, 17), white);
    EXPECT_EQ(canvas.pixel(23, 18), white);
    EXPECT_EQ(canvas.pixel(184, 248), white);
    // What is on screen is what was drawn.
    const QImage shown = PaintBox1()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(10, 10), canvas.pixel(10, 10));
    EXPECT_EQ(shown.pixel(100, 100), white);

    // Showing the dialog again starts from an empty preview.
    dialog_->hide();
    dialog_->show();
    EXPECT_TRUE(PaintBox1()->Canvas().isNull());

    // Off the page to the left and top: cut off.
    EditX()->setText("-400");
    EditY()->setText("-400");
    dialog_->DrawPreview();
    EXPECT_NE(PaintBox1()->Canvas().pixel(8, 2), white);
    EXPECT_EQ(PaintBox1()->Canvas().pixel(9, 2), white);
    EXPECT_EQ(PaintBox1()->Canvas().pixel(8, 3), white);
    dialog_->hide();
}

TEST_F(PrintDialogTest, PreviewErrorsComeAfterTheWhiteFill) {
    UsePdf(4800, 6600, 0);
    EditY()->setText("");
    try {
        dialog_->DrawPreview();
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "'' is not a valid integer value");
    }
    EXPECT_TRUE(CanvasAllWhite());
}

TEST_F(PrintDialogTest, PrintsAtTheFactorAndPositionLosslessly) {
    if (!test::HavePdfRenderer()) {
        GTEST_SKIP() << "pdftoppm not available";
    }
    const int margin = 300;
    UsePdf(4800, 6600, margin);
    EXPECT_EQ(dialog_->PageSize(), QSize(4200, 6000));
    ChooseFactor(2);
    EditX()->setText("100");
    EditY()->setText("50");
    dialog_->PrintPicture();
    ASSERT_EQ(shown_dialogs_.size(), 1u);
    EXPECT_NE(qobject_cast<QPrintDialog*>(shown_dialogs_[0]), nullptr);
    ASSERT_TRUE(QFile::exists(pdf_path_));

    // Stored without loss.
    const QImage stored = test::FirstPdfImage(pdf_path_);
    ASSERT_FALSE(stored.isNull());
    EXPECT_EQ(test::MaxChannelDifference(stored, picture_), 0);

    // (100, 50)-(2032, 1502) in the printable area, rendered with 10 pixels around it.
    const QRect region(margin + 90, margin + 40, 1952, 1472);
    const QImage page = test::RenderPdf(pdf_path_, 600, region);
    ASSERT_FALSE(page.isNull());
    const QRgb white = qRgb(255, 255, 255);
    for (const int y : {10, 700, 1461}) {
        EXPECT_EQ(page.pixel(9, y), white);
        EXPECT_NE(page.pixel(10, y), white);
        EXPECT_NE(page.pixel(1941, y), white);
        EXPECT_EQ(page.pixel(1943, y), white);
    }
    for (const int x : {10, 900, 1941}) {
        EXPECT_EQ(page.pixel(x, 9), white);
        EXPECT_NE(page.pixel(x, 10), white);
        EXPECT_NE(page.pixel(x, 1461), white);
        EXPECT_EQ(page.pixel(x, 1463), white);
    }

    // Every 16 x 16 block of a block picture in its place, 3 x 3 printer pixels a pixel
    // (the renderer interpolates, so only block centres are compared).
    dialog_->LoadPicture(BlocksPath());
    QFile::remove(pdf_path_);
    dialog_->PrintPicture();
    const QImage blocks = test::RenderPdf(pdf_path_, 600, region);
    ASSERT_FALSE(blocks.isNull());
    int misplaced = 0;
    for (int by = 0; by < 484 / 16; ++by) {
        for (int bx = 0; bx < 644 / 16; ++bx) {
            const int i = 16 * bx + 8, j = 16 * by + 8;
            const QRgb printed = blocks.pixel(10 + 3 * i + 1, 10 + 3 * j + 1);
            misplaced += test::MatchesNear(blocks_, i, j, printed, 2) ? 0 : 1;
        }
    }
    EXPECT_EQ(misplaced, 0);
}

TEST_F(PrintDialogTest, OffPagePartsAreNotPrinted) {
    if (!test::HavePdfRenderer()) {
        GTEST_SKIP() << "pdftoppm not available";
    }
    const int margin = 300;
    UsePdf(4800, 6600, margin);
    dialog_->LoadPicture(BlocksPath());
    EditX()->setText("-100");
    EditY()->setText("-50");
    dialog_->PrintPicture();
    const QImage page = test::RenderPdf(pdf_path_, 600, QRect(0, 0, 1000, 1000));
    ASSERT_FALSE(page.isNull());
    const QRgb white = qRgb(255, 255, 255);
    // TPicture pixel (100, 50) lands on the corner of the printable area; the margin stays
    // white although the picture reaches into it.
    EXPECT_TRUE(test::MatchesNear(blocks_, 100, 52, page.pixel(margin, margin + 2), 2));
    EXPECT_TRUE(test::MatchesNear(blocks_, 300, 250, page.pixel(margin + 200, margin + 200), 2));
    EXPECT_EQ(page.pixel(margin - 1, margin + 100), white);
    EXPECT_EQ(page.pixel(margin + 100, margin - 1), white);
    EXPECT_NE(page.pixel(margin + 543, margin + 433), white);
    EXPECT_EQ(page.pixel(margin + 545, margin + 100), white);
    EXPECT_EQ(page.pixel(margin + 100, margin + 435), white);
}

TEST_F(PrintDialogTest, PrintLeavesTheDialogOpenAndRedrawsThePreview) {
    UsePdf(4800, 6600, 0);
    dialog_->show();
    QTest::mouseClick(OKBtn(), Qt::LeftButton);
    EXPECT_TRUE(dialog_->isVisible());
    ASSERT_EQ(shown_dialogs_.size(), 1u);
    ASSERT_TRUE(QFile::exists(pdf_path_));
    EXPECT_FALSE(PaintBox1()->Canvas().isNull());
    EXPECT_NE(PaintBox1()->Canvas().pixel(5, 5), qRgb(255, 255, 255));

    // Another copy with other settings.
    QFile::remove(pdf_path_);
    EditX()->setText("1000");
    QTest::mouseClick(OKBtn(), Qt::LeftButton);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(shown_dialogs_.size(), 2u);
    EXPECT_TRUE(QFile::exists(pdf_path_));
    EXPECT_EQ(PaintBox1()->Canvas().pixel(5, 5), qRgb(255, 255, 255));
    dialog_->hide();
}

TEST_F(PrintDialogTest, CancellingPrintsNothingButRedrawsThePreview) {
    UsePdf(4800, 6600, 0);
    answer_ = QDialog::Rejected;
    dialog_->show();
    OKBtn()->click();
    EXPECT_EQ(shown_dialogs_.size(), 1u);
    EXPECT_FALSE(QFile::exists(pdf_path_));
    EXPECT_NE(PaintBox1()->Canvas().pixel(5, 5), qRgb(255, 255, 255));
    EXPECT_TRUE(dialog_->isVisible());
    CancelBtn()->click();
    EXPECT_FALSE(dialog_->isVisible());
}

TEST_F(PrintDialogTest, BadPositionWhilePrintingReportsAndSendsNoPage) {
    UsePdf(4800, 6600, 0);
    std::vector<std::string> reported;
    SetMessageHandler([&](const QString& text) { reported.push_back(text.toStdString()); });
    EditX()->setText("12a");
    OKBtn()->click();
    SetMessageHandler({});
    EXPECT_EQ(reported, std::vector<std::string>({"'12a' is not a valid integer value"}));
    EXPECT_EQ(shown_dialogs_.size(), 1u) << "the error comes after the print dialog";
    EXPECT_TRUE(PaintBox1()->Canvas().isNull()) << "the preview is not redrawn";
    EXPECT_FALSE(QFile::exists(pdf_path_)) << "no empty page goes out";
}

TEST_F(PrintDialogTest, PrinterSetupThenPreview) {
    UsePdf(4800, 6600, 0);
    Button1()->click();
    ASSERT_EQ(shown_dialogs_.size(), 1u);
    EXPECT_NE(qobject_cast<TPrinterSetupDlg*>(shown_dialogs_[0]), nullptr);
    for (const char* name : {"PrinterBox", "PaperBox", "PortraitButton", "LandscapeButton"}) {
        EXPECT_NE(shown_dialogs_[0]->findChild<QWidget*>(name), nullptr) << name;
    }
    EXPECT_NE(PaintBox1()->Canvas().pixel(5, 5), qRgb(255, 255, 255));
    // The outcome of the set-up dialog is not looked at.
    answer_ = QDialog::Rejected;
    PaintBox1()->ClearDrawing();
    Button1()->click();
    EXPECT_FALSE(PaintBox1()->Canvas().isNull());
}

// The form's sizes were made for the program's font: in it the captions fit their controls.
TEST_F(PrintDialogTest, DialogsUseTheProgramsFont) {
    const QFont program = ProgramFont();
    EXPECT_EQ(program.pixelSize(), 11);
    EXPECT_EQ(program.family(), "MS Sans Serif");
    EXPECT_EQ(dialog_->font(), program);
    EXPECT_EQ(EditY()->font(), program);
    EXPECT_LE(Button1()->sizeHint().width(), Button1()->width());

    // "-200" shows whole: the field need not scroll to show its end as well as its start.
    dialog_->show();
    QLineEdit* y = EditY();
    y->setText("-200");
    y->setCursorPosition(0);
    const QImage start = y->grab().toImage();
    y->setCursorPosition(4);
    EXPECT_EQ(y->grab().toImage(), start);
    dialog_->hide();

    TPreviewDlg album;
    EXPECT_EQ(album.font(), program);
    QPrinter printer;
    TPrinterSetupDlg setup(&printer);
    EXPECT_EQ(setup.font(), program);
}

// The window frame draws the caption in its own bold title font next to its buttons: a box
// as narrow as a short text would cut it.
TEST_F(PrintDialogTest, MessageBoxesLeaveRoomForTheirCaption) {
    std::unique_ptr<QMessageBox> confirm(TPreviewDlg::CreateConfirmBox(nullptr, "Sure?"));
    QMessageBox error(QMessageBox::Critical, "ZarvoLink", "File not found", QMessageBox::Ok);
    StyleMessageBox(error);
    for (QMessageBox* box : {confirm.get(), &error}) {
        box->show();
        EXPECT_EQ(box->font(), ProgramFont());
        QFont title = QApplication::font();
        title.setBold(true);
        EXPECT_GE(box->width(), QFontMetrics(title).horizontalAdvance(box->windowTitle()) + 100)
            << box->windowTitle().toStdString();
        box->hide();
    }
}

TEST_F(PrintDialogTest, PreparePictureRestoresFullColourDecoding) {
    const QString jpeg_path = dir_.filePath("TEMP.jpg");
    const QByteArray jpeg = test::EncodeJpeg(picture_);
    test::WriteFile(jpeg_path, jpeg);
    dialog_->LoadPicture(jpeg_path);
    TPicture& picture = image1()->Picture();
    JpegDecodeOptions reduced;
    reduced.scale_denominator = 4;
    reduced.grayscale = true;
    reduced.fast_dct = true;
    picture.SetJpegOptions(reduced);
    ASSERT_EQ(picture.Width(), 161);
    dialog_->PreparePicture();
    EXPECT_EQ(picture.JpegOptions(), JpegDecodeOptions{});
    EXPECT_TRUE(picture.ProgressiveDisplay());
    EXPECT_TRUE(image1()->IncrementalDisplay());
    EXPECT_EQ(test::MaxChannelDifference(picture.Image(), DecodeJpeg(jpeg)), 0);

    // A bitmap only gets incremental display.
    dialog_->LoadPicture(picture_path_);
    image1()->SetIncrementalDisplay(false);
    dialog_->PreparePicture();
    EXPECT_TRUE(image1()->IncrementalDisplay());
    EXPECT_FALSE(picture.ProgressiveDisplay());
}

}  // namespace
}  // namespace lensmere
