#include "printersetupdialog.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogstyle.h"

namespace lensmere {

TPrinterSetupDlg::TPrinterSetupDlg(QPrinter* printer, QWidget* parent)
    : QDialog(parent), printer_(printer) {
    setObjectName(QStringLiteral("PrinterSetupDialog1"));
    setWindowTitle(QStringLiteral("Printer Setup"));
    setFont(programFont());

    printerBox_ = new QComboBox(this);
    printerBox_->setObjectName(QStringLiteral("PrinterBox"));
    paperBox_ = new QComboBox(this);
    paperBox_->setObjectName(QStringLiteral("PaperBox"));
    connect(printerBox_, &QComboBox::currentIndexChanged, this,
            [this] { listPapers(paperBox_->currentText()); });

    auto* printerGroup = new QGroupBox(QStringLiteral("Printer"), this);
    auto* printerForm = new QFormLayout(printerGroup);
    printerForm->addRow(QStringLiteral("&Name:"), printerBox_);

    auto* paperGroup = new QGroupBox(QStringLiteral("Paper"), this);
    auto* paperForm = new QFormLayout(paperGroup);
    paperForm->addRow(QStringLiteral("Si&ze:"), paperBox_);

    auto* orientationGroup = new QGroupBox(QStringLiteral("Orientation"), this);
    auto* portrait = new QRadioButton(QStringLiteral("P&ortrait"), orientationGroup);
    portrait->setObjectName(QStringLiteral("PortraitButton"));
    auto* landscape = new QRadioButton(QStringLiteral("L&andscape"), orientationGroup);
    landscape->setObjectName(QStringLiteral("LandscapeButton"));
    orientation_ = new QButtonGroup(this);
    orientation_->addButton(portrait, QPageLayout::Portrait);
    orientation_->addButton(landscape, QPageLayout::Landscape);
    auto* orientationRow = new QVBoxLayout(orientationGroup);
    orientationRow->addWidget(portrait);
    orientationRow->addWidget(landscape);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TPrinterSetupDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* lower = new QHBoxLayout;
    lower->addWidget(paperGroup, 1);
    lower->addWidget(orientationGroup);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(printerGroup);
    layout->addLayout(lower);
    layout->addWidget(buttons);

    readPrinter();
}

void TPrinterSetupDlg::showEvent(QShowEvent* event) {
    readPrinter();
    QDialog::showEvent(event);
}

void TPrinterSetupDlg::readPrinter() {
    const QSignalBlocker blocker(printerBox_);
    printerBox_->clear();
    printerBox_->addItems(QPrinterInfo::availablePrinterNames());
    printerBox_->setCurrentIndex(printerBox_->findText(printer_->printerName()));
    listPapers(printer_->pageLayout().pageSize().name());
    orientation_->button(printer_->pageLayout().orientation())->setChecked(true);
}

void TPrinterSetupDlg::listPapers(const QString& keep) {
    const QPrinterInfo info = QPrinterInfo::printerInfo(printerBox_->currentText());
    paperBox_->clear();
    for (const QPageSize& size : info.supportedPageSizes()) {
        paperBox_->addItem(size.name(), QVariant::fromValue(size));
    }
    int index = paperBox_->findText(keep);
    if (index < 0) {
        index = paperBox_->findText(info.defaultPageSize().name());
    }
    paperBox_->setCurrentIndex(index);
}

void TPrinterSetupDlg::accept() {
    const QString name = printerBox_->currentText();
    if (!name.isEmpty() && name != printer_->printerName()) {
        printer_->setPrinterName(name);
    }
    if (paperBox_->currentIndex() >= 0) {
        printer_->setPageSize(paperBox_->currentData().value<QPageSize>());
    }
    printer_->setPageOrientation(static_cast<QPageLayout::Orientation>(orientation_->checkedId()));
    QDialog::accept();
}

}  // namespace lensmere
