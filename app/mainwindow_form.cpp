// The form of the main window: its controls with their positions, sizes,
// fonts and colours, the two pictures the window carries with it, the texts a
// user sees on it and the save-picture dialog.
#include <QFileDialog>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>

#include <functional>

#include "app/dialogstyle.h"
#include "app/errors.h"
#include "app/mainwindow.h"
#include "app/mainwindow_form.h"
#include "app/skin/cool_button.h"
#include "app/skin/cool_form.h"
#include "app/skin/skin_resources.h"

namespace {

const QColor kPanelBlue(54, 106, 134);
const QColor kListText(168, 192, 223);

// The one place that decides what a button of the window is: it makes the
// button, places it and connects its click to the handler.
QWidget* CreateButton(QWidget* parent, const char* name, const QRect& geometry,
                      const QString& glyph_text, std::function<void()> on_click) {
    auto* button = new lensmere::skin::TCoolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->SetGlyph(lensmere::skin::GlyphResourceForWord(glyph_text));
    QObject::connect(button, &lensmere::skin::TCoolButton::Clicked, parent,
                     [on_click = std::move(on_click)] { on_click(); });
    return button;
}

QFont PixelFont(const QString& family, int pixels, bool bold = false) {
    QFont font(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

void SetColours(QWidget* w, const QColor& background, const QColor& text) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, background);
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

// "Description|pattern|..." pairs as the save dialog's filters.
QStringList QtFilters(const QString& filter) {
    QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        int paren = description.indexOf(QLatin1Char('('));
        if (paren > 0)
            description = description.left(paren).trimmed();
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << description + QStringLiteral(" (") + patterns + QStringLiteral(")");
    }
    return filters;
}

}  // namespace

const char kPhotoItemPrefix[] = "Photo No. ";
const char kPhotosUsedText[] = " Photos used  ";
const char kBlockFreeText[] = " Block Free";
const char kUnknownCountText[] = "Unknown.";
const char kCableConnectedText[] = "USB cable connected";
const char kNowReadingText[] = "NOW READING.";
const char kNoPhotoSelectedText[] = "No photo is selected.";
const char kTransferFailedText[] =
    "The photo could not be read from the camera. Nothing was shown or saved; "
    "check the cable and try again.";

bool RunSavePictureDialog(QWidget* parent, TSavePictureDialog& dialog) {
    QFileDialog box(parent);
    box.setAcceptMode(QFileDialog::AcceptSave);
    box.setFileMode(QFileDialog::AnyFile);
    QStringList filters = QtFilters(dialog.Filter);
    box.setNameFilters(filters);
    if (dialog.FilterIndex >= 1 && dialog.FilterIndex <= filters.size())
        box.selectNameFilter(filters[dialog.FilterIndex - 1]);
    QString suffix = dialog.DefaultExt;
    suffix.remove(QStringLiteral("*.")).remove(QLatin1Char('.'));
    box.setDefaultSuffix(suffix);
    box.setDirectory(dialog.InitialDir);
    box.selectFile(dialog.FileName);
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty())
        return false;
    dialog.FileName = box.selectedFiles().first();
    return true;
}

void TZarvoLink::BuildForm() {
    setObjectName(QStringLiteral("ZarvoLink"));
    setWindowTitle(QStringLiteral("ZarvoLink"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(579, 364);
    move(198, 112);
    // The program's font, which the dialogs use as well.
    setFont(lensmere::ProgramFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    // The skin fills the client area behind every other control, takes the
    // window's frame away and gives it its shape.
    CoolForm1 = lensmere::skin::InstallMainWindowSkin(this);
    CoolForm1->setObjectName(QStringLiteral("CoolForm1"));

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(40, 78, 310, 238);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setScaledContents(false);
    Image1->setPixmap(QPixmap::fromImage(lensmere::skin::LoadSkinImage(
        QString::fromLatin1(lensmere::skin::kPreviewPlaceholderResource))));

    auto handler = [this](void (TZarvoLink::*member)()) {
        return [this, member] { lensmere::RunHandler([&] { (this->*member)(); }); };
    };
    PrintButton = CreateButton(this, "PrintButton", {384, 230, 75, 29}, QStringLiteral("DRAW"),
                               handler(&TZarvoLink::PrintButtonClick));
    SavetofileButton =
        CreateButton(this, "SavetofileButton", {384, 265, 75, 29}, QStringLiteral("BACKUP"),
                     handler(&TZarvoLink::SavetofileButtonClick));
    GetinfoBotton =
        CreateButton(this, "GetinfoBotton", {384, 300, 75, 29}, QStringLiteral("CATALOG"),
                     handler(&TZarvoLink::GetinfoBottonClick));
    BookButton = CreateButton(this, "BookButton", {480, 232, 75, 29}, QStringLiteral("HISTORY"),
                              handler(&TZarvoLink::BookButtonClick));
    ViewPICButton =
        CreateButton(this, "ViewPICButton", {480, 265, 75, 29}, QStringLiteral("PRE-VIEW"),
                     handler(&TZarvoLink::ViewPICButtonClick));
    ExitButton = CreateButton(this, "ExitButton", {480, 300, 75, 29}, QStringLiteral("EXIT"),
                              handler(&TZarvoLink::ExitButtonClick));

    Label1 = new QLabel(QStringLiteral("Ver 1.03"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(364, 40, 47, 16);
    {
        QFont f = PixelFont(QStringLiteral("Times New Roman"), 13, true);
        f.setItalic(true);
        f.setUnderline(true);
        Label1->setFont(f);
        QPalette p = Label1->palette();
        p.setColor(QPalette::WindowText, QColor(43, 180, 253));
        Label1->setPalette(p);
    }
    auto make_state_label = [this](const char* name, int left, int top) {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->move(left, top);
        label->setFont(PixelFont(QStringLiteral("Times New Roman"), 11, true));
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, QColor(1, 69, 105));
        label->setPalette(p);
        label->adjustSize();
        return label;
    };
    Label2 = make_state_label("Label2", 57, 319);
    Label3 = make_state_label("Label3", 246, 319);

    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(22, 322, 33, 22);
    Image2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image2->setPixmap(QPixmap::fromImage(
        lensmere::skin::LoadSkinImage(QString::fromLatin1(lensmere::skin::kCableIconResource))));
    Image2->hide();

    Gauge1 = new QProgressBar(this);
    Gauge1->setObjectName(QStringLiteral("Gauge1"));
    Gauge1->setGeometry(72, 332, 441, 12);
    Gauge1->setRange(0, 100);
    Gauge1->setValue(0);
    Gauge1->setTextVisible(false);
    Gauge1->setStyleSheet(
        QStringLiteral("QProgressBar { background: rgb(54,106,134); color: rgb(67,131,165);"
                       " border: 1px solid rgb(67,131,165); }"
                       "QProgressBar::chunk { background: rgb(45,86,108); }"));
    Gauge1->hide();

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(365, 106, 190, 113);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11));
    ListBox1->setFrameShape(QFrame::NoFrame);
    SetColours(ListBox1, kPanelBlue, kListText);

    Number_of_Photo = new QLabel(this);
    Number_of_Photo->setObjectName(QStringLiteral("Number_of_Photo"));
    Number_of_Photo->setGeometry(366, 92, 189, 14);
    Number_of_Photo->setAlignment(Qt::AlignCenter);
    Number_of_Photo->setFont(PixelFont(QStringLiteral("MS Sans Serif"), 11, true));
    SetColours(Number_of_Photo, kPanelBlue, kListText);

    Memo1 = new QPlainTextEdit(QStringLiteral("Memo1"), this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(16, 16, 337, 57);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->hide();

    setTabOrder(ListBox1, Memo1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(1000);
}
