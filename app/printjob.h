// One printed page on the program's current printer. Qt hands a page for a print queue to the
// spooler itself and drops the spooler's answer, so a job the spooler does not take would be
// lost without a word: a page for a queue is drawn into a PDF file of the job's own instead and
// handed over here, with the options Qt would send. A printer that writes a file is drawn on
// directly.
#pragma once

#include <QPainter>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class QPrinter;

namespace lensmere {

// True for a printer that prints through a print queue rather than into a file.
bool PrintsOnQueue(const QPrinter& printer);

// Raises "Cannot print on "<queue>": <reason>" when the spooler does not know the queue (it
// was removed, or the spooler is not running).
void CheckQueue(const QString& queue);

// Hands a finished PDF file to a queue under a job title with the options of `printer` (paper,
// orientation, copies, sides and those chosen in the system print dialog). Raises "Cannot
// print on "<queue>": <reason>" when the spooler does not take the job.
void HandToQueue(const QPrinter& printer, const QString& pdf, const QString& title);

class TPrintJob {
  public:
    // Begins the page; raises "Printer selected is not valid" when the printer cannot begin.
    explicit TPrintJob(QPrinter& printer);
    // A page that was not finished goes nowhere.
    ~TPrintJob();
    TPrintJob(const TPrintJob&) = delete;
    TPrintJob& operator=(const TPrintJob&) = delete;

    QPainter& Painter() { return painter_; }
    // Ends the page and, for a queue, hands it to the spooler (see HandToQueue).
    void Finish();

  private:
    QPrinter& printer_;
    // For a queue: the PDF file the page is drawn into, laid out as the printer's page.
    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<QPrinter> file_;
    QPainter painter_;
};

}  // namespace lensmere
