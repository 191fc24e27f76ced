#include "app/printersetupdialog.h"

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

#include "app/dialogstyle.h"
#include "app/printjob.h"

namespace lensmere {

TPrinterSetupDlg::TPrinterSetupDlg(QPrinter* printer, QWidget* parent)
    : QDialog(parent), printer_(printer) {
    setObjectName(QStringLiteral("PrinterSetupDialog1"));
    setWindowTitle(QStringLiteral("Printer Setup"));
    setFont(ProgramFont());

    printer_box_ = new QComboBox(this);
    printer_box_->setObjectName(QStringLiteral("PrinterBox"));
    paper_box_ = new QComboBox(this);
    paper_box_->setObjectName(QStringLiteral("PaperBox"));
    connect(printer_box_, &QComboBox::currentIndexChanged, this,
            [this] { ListPapers(paper_box_->currentText()); });

    auto* printer_group = new QGroupBox(QStringLiteral("Printer"), this);
    auto* printer_form = new QFormLayout(printer_group);
    printer_form->addRow(QStringLiteral("&Name:"), printer_box_);

    auto* paper_group = new QGroupBox(QStringLiteral("Paper"), this);
    auto* paper_form = new QFormLayout(paper_group);
    paper_form->addRow(QStringLiteral("Si&ze:"), paper_box_);

    auto* orientation_group = new QGroupBox(QStringLiteral("Orientation"), this);
    auto* portrait = new QRadioButton(QStringLiteral("P&ortrait"), orientation_group);
    portrait->setObjectName(QStringLiteral("PortraitButton"));
    auto* landscape = new QRadioButton(QStringLiteral("L&andscape"), orientation_group);
    landscape->setObjectName(QStringLiteral("LandscapeButton"));
    orientation_ = new QButtonGroup(this);
    orientation_->addButton(portrait, QPageLayout::Portrait);
    orientation_->addButton(landscape, QPageLayout::Landscape);
    auto* orientation_row = new QVBoxLayout(orientation_group);
    orientation_row->addWidget(portrait);
    orientation_row->addWidget(landscape);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &TPrinterSetupDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* lower = new QHBoxLayout;
    lower->addWidget(paper_group, 1);
    lower->addWidget(orientation_group);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(printer_group);
    layout->addLayout(lower);
    layout->addWidget(buttons);

    ReadPrinter();
}

void TPrinterSetupDlg::showEvent(QShowEvent* event) {
    ReadPrinter();
    QDialog::showEvent(event);
    CentreOverOwner(*this);
}

void TPrinterSetupDlg::ReadPrinter() {
    const QSignalBlocker blocker(printer_box_);
    printer_box_->clear();
    printer_box_->addItems(QPrinterInfo::availablePrinterNames());
    // A queue that has gone (or a printer that writes a file) is not offered: the system's
    // default is, as the print dialog would.
    int index =
        printer_box_->findText(PrintsOnQueue(*printer_) ? printer_->printerName() : QString());
    if (index < 0) {
        index = printer_box_->findText(QPrinterInfo::defaultPrinterName());
    }
    printer_box_->setCurrentIndex(index < 0 && printer_box_->count() > 0 ? 0 : index);
    ListPapers(printer_->pageLayout().pageSize().name());
    orientation_->button(printer_->pageLayout().orientation())->setChecked(true);
}

void TPrinterSetupDlg::ListPapers(const QString& keep) {
    const QPrinterInfo info = QPrinterInfo::printerInfo(printer_box_->currentText());
    paper_box_->clear();
    for (const QPageSize& size : info.supportedPageSizes()) {
        paper_box_->addItem(size.name(), QVariant::fromValue(size));
    }
    int index = paper_box_->findText(keep);
    if (index < 0) {
        index = paper_box_->findText(info.defaultPageSize().name());
    }
    paper_box_->setCurrentIndex(index);
}

void TPrinterSetupDlg::accept() {
    const QString name = printer_box_->currentText();
    if (!name.isEmpty() && (name != printer_->printerName() || !PrintsOnQueue(*printer_))) {
        printer_->setOutputFormat(QPrinter::NativeFormat);
        printer_->setPrinterName(name);
        printer_->setOutputFileName(QString());
    }
    if (paper_box_->currentIndex() >= 0) {
        printer_->setPageSize(paper_box_->currentData().value<QPageSize>());
    }
    printer_->setPageOrientation(static_cast<QPageLayout::Orientation>(orientation_->checkedId()));
    QDialog::accept();
}

}  // namespace lensmere
