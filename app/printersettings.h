// What the print and printer set-up dialogs change on the program's current printer, taken
// as a whole so that a change that does not stand (a print that failed, a system dialog that
// was cancelled after it had already switched queues) can be put back.
#pragma once

#include <QPageLayout>
#include <QPrinter>
#include <QString>
#include <QStringList>

namespace lensmere {

// The CUPS options chosen for a printer in the system print dialog (name, value, name, value
// ...), which Qt keeps with the printer and sends with its jobs.
QStringList CupsOptions(const QPrinter& printer);

class TPrinterSettings {
  public:
    explicit TPrinterSettings(const QPrinter& printer);
    void Restore(QPrinter& printer) const;

    const QString& PrinterName() const { return printer_name_; }
    QPrinter::OutputFormat Format() const { return format_; }
    const QPageLayout& Layout() const { return layout_; }

  private:
    QString printer_name_;
    QPrinter::OutputFormat format_;
    QString file_;
    QPageLayout layout_;
    int resolution_;
    bool full_page_;
    int copies_;
    bool collate_;
    QPrinter::DuplexMode duplex_;
    QPrinter::ColorMode colour_;
    QPrinter::PageOrder order_;
    QStringList cups_options_;
};

}  // namespace lensmere
