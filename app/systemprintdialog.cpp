#include "app/systemprintdialog.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QPageSize>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QSet>

#include "app/dialogstyle.h"

namespace lensmere {

namespace {

// Watches the print dialog while it runs: it is centred over the print dialog when it shows,
// and so are its printer properties, which Qt makes anew when another queue is chosen. Their
// controls are found by the names Qt's form gives them.
class PropertiesWatch : public QObject {
  public:
    PropertiesWatch(QPrintDialog& dialog, const QPageLayout& layout)
        : dialog_(dialog), layout_(layout) {
        qApp->installEventFilter(this);
    }

    // The user accepted paper and orientation in the properties that are in force.
    bool PageChosen() const { return !accepted_.isNull(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) {
            return false;
        }
        if (watched == &dialog_) {
            CentreOverOwner(dialog_);
            return false;
        }
        if (watched->parent() != &dialog_ || !watched->inherits("QPrintPropertiesDialog")) {
            return false;
        }
        auto* properties = static_cast<QDialog*>(watched);
        if (!watched_.contains(properties)) {
            watched_.insert(properties);
            connect(properties, &QDialog::accepted, this,
                    [this, properties] { accepted_ = properties; });
        }
        // Cancelled properties fall back to what they opened on, the queue's default; until
        // the user accepts some, they show the printer's own.
        if (accepted_ != properties) {
            ShowPrintersPage(*properties);
        }
        return false;
    }

  private:
    void ShowPrintersPage(QDialog& properties) const {
        if (auto* sizes = properties.findChild<QComboBox*>(QStringLiteral("pageSizeCombo"))) {
            for (int i = 0; i < sizes->count(); ++i) {
                if (sizes->itemData(i).value<QPageSize>().isEquivalentTo(layout_.pageSize())) {
                    sizes->setCurrentIndex(i);
                    break;
                }
            }
        }
        const QString side = layout_.orientation() == QPageLayout::Landscape
                                 ? QStringLiteral("landscape")
                                 : QStringLiteral("portrait");
        auto* button = properties.findChild<QRadioButton*>(side);
        if (button != nullptr && !button->isChecked()) {
            button->click();
        }
    }

    QPrintDialog& dialog_;
    QPageLayout layout_;
    QSet<QObject*> watched_;
    QPointer<QDialog> accepted_;
};

}  // namespace

bool RunSystemPrintDialog(QPrintDialog& dialog, QPrinter& printer, const TPrinterSettings& before,
                          const std::function<int(QDialog&)>& run) {
    bool page_chosen = false;
    int result = QDialog::Rejected;
    {
        PropertiesWatch watch(dialog, before.Layout());
        result = run(dialog);
        page_chosen = watch.PageChosen();
    }
    if (result != QDialog::Accepted) {
        before.Restore(printer);
        return false;
    }
    if (!page_chosen) {
        if (printer.outputFormat() == before.Format() &&
            printer.printerName() == before.PrinterName()) {
            printer.setPageLayout(before.Layout());
        } else {
            printer.setPageSize(before.Layout().pageSize());
            printer.setPageOrientation(before.Layout().orientation());
        }
    }
    return true;
}

}  // namespace lensmere
