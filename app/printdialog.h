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

#include "app/picturebox.h"

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
QRect PagePictureRect(int picture_width, int picture_height, float factor, int x, int y);
QRect PreviewPictureRect(int picture_width, int picture_height, float factor, int x, int y,
                         int page_width, int page_height, int box_width, int box_height);

// Signed decimal integer of an edit field; anything else raises
// "'<text>' is not a valid integer value".
int FieldInteger(const QString& text);

// The page preview. It shows only what DrawPreview last drew, and nothing (the dialog's
// background) until then.
class TPreviewBox : public QWidget {
    Q_OBJECT
  public:
    explicit TPreviewBox(QWidget* parent = nullptr);
    const QImage& Canvas() const { return canvas_; }
    QImage& BeginDrawing();  // a white canvas the size of the box
    void ClearDrawing();

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
    void SetDialogRunner(DialogRunner runner);

    // The program's current printer: the system's default printer until the user picks
    // another in a system dialog. Its resolution is the queue's own, so that its pixels are
    // the printer's. Raises "There is no default printer currently selected" when the
    // system has none.
    QPrinter& CurrentPrinter();
    // Makes the given printer the current one (e.g. a PDF printer).
    void SetCurrentPrinter(std::unique_ptr<QPrinter> printer);

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
    float SizeFactor() const;
    // The printable area of the current printer in printer pixels.
    QSize PageSize();

    // Centred over the main window whenever it is shown.
    void setVisible(bool visible) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void DropSystemDialogs();
    // Hands the picture to the printer the system print dialog left current.
    void PrintOn(QPrinter& printer);
    // Printer pixels are those of the current queue's own resolution.
    void UseQueueResolution();

    // Controls, named as in the dialog's form.
    QFrame* Bevel2;
    QFrame* Bevel1;
    TPictureBox* image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    TPreviewBox* PaintBox1;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
    QPushButton* Button1;
    QComboBox* ComboBox1;
    QLineEdit* EditX;
    QLineEdit* EditY;
    // Made anew for every print: it lists the queues there are then, and starts from the
    // current printer.
    QPrintDialog* PrintDialog1 = nullptr;
    // Bound to the current printer; made when first needed.
    TPrinterSetupDlg* PrinterSetupDialog1 = nullptr;

    std::unique_ptr<QPrinter> printer_;
    DialogRunner runner_;
    int chosen_factor_index_ = -1;
};

}  // namespace lensmere
