// The print dialog: prints one picture on one page of the current printer at a whole-number
// magnification and a position in printer pixels, and previews where it lands on the page.
#pragma once

#include <QDialog>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "picturebox.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPrintDialog;
class QPrinter;
class QPushButton;

namespace lensmere {

class TPrinterSetupDlg;

// Rectangle edges in printer pixels of the printable area, or in preview pixels. The
// arithmetic is single precision with products and quotients formed in higher precision;
// every edge is truncated toward zero (and held within the int range).
QRect pagePictureRect(int pictureWidth, int pictureHeight, float factor, int x, int y);
QRect previewPictureRect(int pictureWidth, int pictureHeight, float factor, int x, int y,
                         int pageWidth, int pageHeight, int boxWidth, int boxHeight);

// Signed decimal integer of an edit field; anything else raises
// "'<text>' is not a valid integer value".
int fieldInteger(const QString& text);

// The page preview. It shows only what DrawPreview last drew, and nothing (the dialog's
// background) until then.
class PreviewBox : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewBox(QWidget* parent = nullptr);
    const QImage& canvas() const { return canvas_; }
    QImage& beginDrawing();  // a white canvas the size of the box
    void clearDrawing();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage canvas_;
};

class TPrintDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TPrintDlg(QWidget* parent = nullptr);
    ~TPrintDlg() override;

    // Runs one of the system dialogs (PrintDialog1, PrinterSetupDialog1) and returns its
    // result; the default is exec(). Tests replace it so that no modal dialog blocks.
    using DialogRunner = std::function<int(QDialog& dialog)>;
    void setDialogRunner(DialogRunner runner);

    // The program's current printer: the system's default printer until the user picks
    // another in a system dialog. Its resolution is the queue's own, so that its pixels are
    // the printer's. Raises "There is no default printer currently selected" when the
    // system has none.
    QPrinter& currentPrinter();
    // Makes the given printer the current one (e.g. a PDF printer).
    void setCurrentPrinter(std::unique_ptr<QPrinter> printer);

    // The main window's way in: load the picture file into image1 (raising the decoder's
    // error), PreparePicture(), then exec().
    void LoadPicture(const QString& file);
    void ShowModal() { exec(); }

    // Decoding options of a JPEG picture for printing, incremental display of image1.
    void PreparePicture();
    // Asks for a printer and prints the picture; does nothing when the dialog is cancelled.
    void PrintPicture();
    // Redraws the page preview.
    void DrawPreview();
    void OKBtnClick();
    void Button1Click();

    // 1 to 4: the item last chosen from ComboBox1's list (1 while none is chosen).
    float sizeFactor() const;
    // The printable area of the current printer in printer pixels.
    QSize pageSize();

    QFrame* Bevel2;
    QFrame* Bevel1;
    PictureBox* image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    PreviewBox* PaintBox1;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* Button1;
    QComboBox* ComboBox1;
    QLineEdit* EditX;
    QLineEdit* EditY;
    // Bound to the current printer; made when first needed.
    QPrintDialog* PrintDialog1 = nullptr;
    TPrinterSetupDlg* PrinterSetupDialog1 = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void dropSystemDialogs();
    // Printer pixels are those of the current queue's own resolution.
    void useQueueResolution();

    std::unique_ptr<QPrinter> printer_;
    DialogRunner runner_;
    int chosenFactorIndex_ = -1;
};

}  // namespace lensmere
