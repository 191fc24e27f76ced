// The printer set-up of the print dialog: which printer, which paper and which orientation
// the program's current printer uses. Qt's page set-up offers paper and orientation only.
#pragma once

#include <QDialog>

class QButtonGroup;
class QComboBox;
class QPrinter;

namespace lensmere {

class TPrinterSetupDlg : public QDialog {
    Q_OBJECT
  public:
    // Works on `printer`, which must outlive the dialog.
    TPrinterSetupDlg(QPrinter* printer, QWidget* parent = nullptr);

    // Applies the choices to the printer, then closes with "accepted".
    void accept() override;

  protected:
    // Every showing starts from the printer's present settings, centred over the print dialog.
    void showEvent(QShowEvent* event) override;

  private:
    void ReadPrinter();
    // The paper sizes of the printer chosen in the list, keeping `keep` when it has it.
    void ListPapers(const QString& keep);

    QPrinter* printer_;
    QComboBox* printer_box_;
    QComboBox* paper_box_;
    QButtonGroup* orientation_;
};

}  // namespace lensmere
