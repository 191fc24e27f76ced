#include "app/printdialog.h"

#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QStringListModel>
#include <climits>
#include <cmath>

#include "app/dialogstyle.h"
#include "app/errors.h"
#include "app/printersettings.h"
#include "app/printersetupdialog.h"
#include "app/printjob.h"
#include "app/queueresolution.h"
#include "app/systemprintdialog.h"

namespace lensmere {

namespace {

// Edges are whole printer pixels; values beyond the int range (huge X or Y) are held at
// its ends instead of overflowing.
int TruncatedEdge(long double value) {
    if (std::isnan(value)) {
        return 0;
    }
    const long double truncated = std::trunc(value);
    if (truncated >= static_cast<long double>(INT_MAX)) {
        return INT_MAX;
    }
    if (truncated <= static_cast<long double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(truncated);
}

QRect RectFromEdges(int left, int top, int right, int bottom) {
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

QFont CaptionFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

// The items of the size list. An editable combo box takes typed text that matches an item
// as a choice of that item when the field loses focus or Enter is pressed; the factor comes
// only from a choice made in the list, so typed text never matches an item.
class FactorItems : public QStringListModel {
  public:
    using QStringListModel::QStringListModel;
    QModelIndexList match(const QModelIndex&, int, const QVariant&, int,
                          Qt::MatchFlags) const override {
        return {};
    }
};

int RunDialog(QDialog& dialog) {
    return dialog.exec();
}

const char* const kNoDefaultPrinter = "There is no default printer currently selected";

}  // namespace

QRect PagePictureRect(int picture_width, int picture_height, float factor, int x, int y) {
    const float w = static_cast<float>(static_cast<long double>(picture_width) * factor);
    const float h = static_cast<float>(static_cast<long double>(picture_height) * factor);
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    return RectFromEdges(TruncatedEdge(fx), TruncatedEdge(fy),
                         TruncatedEdge(static_cast<long double>(w) + fx),
                         TruncatedEdge(static_cast<long double>(h) + fy));
}

QRect PreviewPictureRect(int picture_width, int picture_height, float factor, int x, int y,
                         int page_width, int page_height, int box_width, int box_height) {
    const long double page_w = page_width;
    const long double page_h = page_height;
    const float pw =
        static_cast<float>(static_cast<long double>(picture_width) * factor * box_width / page_w);
    const float ph =
        static_cast<float>(static_cast<long double>(picture_height) * factor * box_height / page_h);
    const float fx = static_cast<float>(x);
    const float fy = static_cast<float>(y);
    const float px = static_cast<float>(static_cast<long double>(box_width) * fx / page_w);
    const float py = static_cast<float>(static_cast<long double>(box_height) * fy / page_h);
    return RectFromEdges(TruncatedEdge(px), TruncatedEdge(py),
                         TruncatedEdge(static_cast<long double>(pw) + px),
                         TruncatedEdge(static_cast<long double>(ph) + py));
}

int FieldInteger(const QString& text) {
    bool ok = false;
    int value = 0;
    const bool shape_ok = !text.isEmpty() && text.trimmed() == text;
    if (shape_ok) {
        value = text.toInt(&ok, 10);
    }
    if (!ok) {
        throw ConversionError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
    return value;
}

// ---------------------------------------------------------------------------------------------

TPreviewBox::TPreviewBox(QWidget* parent) : QWidget(parent) {}

QImage& TPreviewBox::BeginDrawing() {
    canvas_ = QImage(size(), QImage::Format_RGB32);
    canvas_.fill(Qt::white);
    update();
    return canvas_;
}

void TPreviewBox::ClearDrawing() {
    canvas_ = QImage();
    update();
}

void TPreviewBox::paintEvent(QPaintEvent*) {
    if (canvas_.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), canvas_);
}

// ---------------------------------------------------------------------------------------------

TPrintDlg::TPrintDlg(QWidget* parent) : QDialog(parent), runner_(RunDialog) {
    setObjectName(QStringLiteral("PrintDlg"));
    setWindowTitle(QStringLiteral("Draw"));
    setFixedSize(621, 360);
    setSizeGripEnabled(false);
    setFont(ProgramFont());

    Bevel2 = new QFrame(this);
    Bevel2->setObjectName(QStringLiteral("Bevel2"));
    Bevel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bevel2->setGeometry(426, 30, 193, 254);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 417, 313);

    image1 = new TPictureBox(this);
    image1->setObjectName(QStringLiteral("image1"));
    image1->setGeometry(13, 16, 404, 297);
    image1->SetStretch(true);

    Label1 = new QLabel(QStringLiteral("SIZE"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(20, 340, 34, 16);
    Label2 = new QLabel(QStringLiteral("X"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(120, 340, 10, 16);
    Label3 = new QLabel(QStringLiteral("Y"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(200, 340, 11, 16);
    for (QLabel* label : {Label1, Label2, Label3}) {
        label->setFont(CaptionFont());
        label->adjustSize();
    }

    PaintBox1 = new TPreviewBox(this);
    PaintBox1->setObjectName(QStringLiteral("PaintBox1"));
    PaintBox1->setGeometry(430, 32, 185, 249);

    OKBtn = new QPushButton(QStringLiteral("Print"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setGeometry(455, 332, 75, 25);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, [this] { RunHandler([this] { OKBtnClick(); }); });

    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    CancelBtn->setGeometry(543, 332, 75, 25);
    CancelBtn->setAutoDefault(false);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);

    Button1 = new QPushButton(QStringLiteral("Printer Setup && Pre-view"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(296, 332, 147, 25);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this,
            [this] { RunHandler([this] { Button1Click(); }); });

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(56, 336, 41, 21);
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setCompleter(nullptr);
    ComboBox1->setModel(new FactorItems(
        {QStringLiteral("x1"), QStringLiteral("x2"), QStringLiteral("x3"), QStringLiteral("x4")},
        ComboBox1));
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QStringLiteral("x1"));
    connect(ComboBox1, &QComboBox::activated, this,
            [this](int index) { chosen_factor_index_ = index; });

    EditX = new QLineEdit(QStringLiteral("0"), this);
    EditX->setObjectName(QStringLiteral("EditX"));
    EditX->setGeometry(136, 336, 33, 21);
    EditY = new QLineEdit(QStringLiteral("0"), this);
    EditY->setObjectName(QStringLiteral("EditY"));
    EditY->setGeometry(216, 336, 25, 21);
    // The fields are as narrow as the form made them; Qt keeps 2 pixels inside the frame on
    // each side, which would scroll "-200" out of the Y field. The text may use them.
    for (QLineEdit* field : {EditX, EditY}) {
        field->setTextMargins(-2, 0, -2, 0);
    }

    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, Button1);
    setTabOrder(Button1, ComboBox1);
    setTabOrder(ComboBox1, EditX);
    setTabOrder(EditX, EditY);
}

TPrintDlg::~TPrintDlg() {
    DropSystemDialogs();
}

void TPrintDlg::SetDialogRunner(DialogRunner runner) {
    runner_ = runner ? std::move(runner) : DialogRunner(RunDialog);
}

void TPrintDlg::DropSystemDialogs() {
    delete PrintDialog1;
    PrintDialog1 = nullptr;
    delete PrinterSetupDialog1;
    PrinterSetupDialog1 = nullptr;
}

QPrinter& TPrintDlg::CurrentPrinter() {
    if (!printer_) {
        QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull()) {
            const QList<QPrinterInfo> printers = QPrinterInfo::availablePrinters();
            if (printers.isEmpty()) {
                throw Error(std::string(kNoDefaultPrinter));
            }
            info = printers.first();
        }
        printer_ = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
        UseQueueResolution();
    }
    return *printer_;
}

void TPrintDlg::UseQueueResolution() {
    // Qt lays a queue's page out on a fixed grid of its own; printer pixels are the
    // queue's. Printing into a file (a PDF printer, or a queue told to print to a file)
    // keeps the resolution the printer was given.
    if (printer_->outputFormat() != QPrinter::NativeFormat ||
        !printer_->outputFileName().isEmpty()) {
        return;
    }
    const int dpi = QueueResolution(printer_->printerName());
    if (dpi > 0) {
        printer_->setResolution(dpi);
    }
}

void TPrintDlg::SetCurrentPrinter(std::unique_ptr<QPrinter> printer) {
    DropSystemDialogs();
    printer_ = std::move(printer);
}

float TPrintDlg::SizeFactor() const {
    return chosen_factor_index_ >= 0 ? static_cast<float>(chosen_factor_index_ + 1) : 1.0f;
}

QSize TPrintDlg::PageSize() {
    QPrinter& printer = CurrentPrinter();
    return printer.pageLayout().paintRectPixels(printer.resolution()).size();
}

void TPrintDlg::setVisible(bool visible) {
    if (visible && !isVisible()) {
        CentreOverOwner(*this);
    }
    QDialog::setVisible(visible);
}

void TPrintDlg::showEvent(QShowEvent* event) {
    PaintBox1->ClearDrawing();
    QDialog::showEvent(event);
}

void TPrintDlg::LoadPicture(const QString& file) {
    image1->LoadFromFile(file);
}

void TPrintDlg::PreparePicture() {
    TPicture& picture = image1->Picture();
    if (picture.Kind() == TPicture::Format::Jpeg) {
        JpegDecodeOptions options = picture.JpegOptions();
        options.scale_denominator = 1;
        options.grayscale = false;
        options.fast_dct = false;
        picture.SetJpegOptions(options);
        picture.SetProgressiveDisplay(true);
        image1->PictureChanged();
    }
    image1->SetIncrementalDisplay(true);
}

void TPrintDlg::PrintPicture() {
    QPrinter& printer = CurrentPrinter();
    // A queue that went away after it was chosen takes no print; the user picks another one.
    if (PrintsOnQueue(printer)) {
        CheckQueue(printer.printerName());
    }
    const TPrinterSettings before(printer);
    delete PrintDialog1;
    PrintDialog1 = new QPrintDialog(&printer, this);
    PrintDialog1->setFont(ProgramFont());
    if (!RunSystemPrintDialog(*PrintDialog1, printer, before, runner_)) {
        return;
    }
    try {
        UseQueueResolution();
        PrintOn(printer);
    } catch (...) {
        // A print that did not go out changes nothing, the printer included.
        before.Restore(printer);
        throw;
    }
}

void TPrintDlg::PrintOn(QPrinter& printer) {
    const float f = SizeFactor();
    const TPicture& picture = image1->Picture();
    // The position is read before the job begins: a job begun and then abandoned would
    // still put out an empty page.
    const int x = FieldInteger(EditX->text());
    const int y = FieldInteger(EditY->text());
    const QRect target = PagePictureRect(picture.Width(), picture.Height(), f, x, y);
    TPrintJob job(printer);
    if (!picture.IsEmpty()) {
        // What lies outside the printable area is not printed, as on paper.
        QPainter& painter = job.Painter();
        const QSize page = printer.pageLayout().paintRectPixels(printer.resolution()).size();
        painter.setClipRect(QRect(QPoint(0, 0), page));
        painter.setRenderHint(QPainter::LosslessImageRendering);
        painter.drawImage(target, picture.Image());
    }
    job.Finish();
}

void TPrintDlg::DrawPreview() {
    const float f = SizeFactor();
    QImage& canvas = PaintBox1->BeginDrawing();
    const QSize page = PageSize();
    const TPicture& picture = image1->Picture();
    const int x = FieldInteger(EditX->text());
    const int y = FieldInteger(EditY->text());
    if (picture.IsEmpty() || page.width() <= 0 || page.height() <= 0) {
        return;
    }
    const QRect target =
        PreviewPictureRect(picture.Width(), picture.Height(), f, x, y, page.width(), page.height(),
                           PaintBox1->width(), PaintBox1->height());
    QPainter painter(&canvas);
    painter.drawImage(target, picture.Image());
    painter.end();
    PaintBox1->update();
}

void TPrintDlg::OKBtnClick() {
    PrintPicture();
    DrawPreview();
}

void TPrintDlg::Button1Click() {
    QPrinter& printer = CurrentPrinter();
    if (!PrinterSetupDialog1) {
        PrinterSetupDialog1 = new TPrinterSetupDlg(&printer, this);
    }
    runner_(*PrinterSetupDialog1);
    UseQueueResolution();
    DrawPreview();
}

}  // namespace lensmere
