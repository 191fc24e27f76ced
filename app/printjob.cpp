#include "app/printjob.h"

#include <cups/cups.h>

#include <QByteArray>
#include <QPageLayout>
#include <QPrinter>
#include <utility>
#include <vector>

#include "app/errors.h"
#include "app/printersettings.h"

namespace lensmere {

namespace {

bool SpoolerAnswers() {
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                5000, nullptr);
    if (http == nullptr) {
        return false;
    }
    httpClose(http);
    return true;
}

// After a CUPS request for the queue failed. CUPS words a spooler it cannot reach as a queue
// that does not exist, or as a file that is missing: that is said plainly.
[[noreturn]] void RaiseCannotPrint(const QString& queue) {
    QString reason = QString::fromUtf8(cupsLastErrorString());
    if (!SpoolerAnswers()) {
        reason = QStringLiteral("The print spooler at %1 cannot be reached.")
                     .arg(QString::fromLocal8Bit(cupsServer()));
    }
    throw Error(QStringLiteral("Cannot print on \"%1\": %2").arg(queue, reason));
}

// A queue's name without the instance that may follow a slash: the spooler knows the queue.
QByteArray QueueOf(const QString& printer_name) {
    return printer_name.section(QLatin1Char('/'), 0, 0).toLocal8Bit();
}

// The job options Qt sends with a page of `printer`.
std::vector<std::pair<QByteArray, QByteArray>> JobOptions(const QPrinter& printer) {
    std::vector<std::pair<QByteArray, QByteArray>> options;
    const QPageLayout layout = printer.pageLayout();
    options.emplace_back("media", layout.pageSize().key().toLocal8Bit());
    const int copies = printer.copyCount();
    if (copies > 1) {
        options.emplace_back("copies", QByteArray::number(copies));
        if (printer.collateCopies()) {
            options.emplace_back("Collate", "True");
        }
    }
    const bool landscape = layout.orientation() == QPageLayout::Landscape;
    switch (printer.duplex()) {
        case QPrinter::DuplexNone:
            options.emplace_back("sides", "one-sided");
            break;
        case QPrinter::DuplexAuto:
            options.emplace_back("sides",
                                 landscape ? "two-sided-short-edge" : "two-sided-long-edge");
            break;
        case QPrinter::DuplexLongSide:
            options.emplace_back("sides", "two-sided-long-edge");
            break;
        case QPrinter::DuplexShortSide:
            options.emplace_back("sides", "two-sided-short-edge");
            break;
    }
    if (landscape) {
        options.emplace_back("landscape", "true");
    }
    const QStringList chosen = CupsOptions(printer);
    for (qsizetype i = 0; i + 1 < chosen.size(); i += 2) {
        options.emplace_back(chosen[i].toLocal8Bit(), chosen[i + 1].toLocal8Bit());
    }
    return options;
}

}  // namespace

bool PrintsOnQueue(const QPrinter& printer) {
    return printer.outputFormat() == QPrinter::NativeFormat && printer.outputFileName().isEmpty();
}

void CheckQueue(const QString& queue) {
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, QueueOf(queue).constData(), nullptr);
    if (dest == nullptr) {
        RaiseCannotPrint(queue);
    }
    cupsFreeDests(1, dest);
}

void HandToQueue(const QPrinter& printer, const QString& pdf, const QString& title) {
    const auto options = JobOptions(printer);
    std::vector<cups_option_t> list;
    list.reserve(options.size());
    for (const auto& [name, value] : options) {
        list.push_back(cups_option_t{const_cast<char*>(name.constData()),
                                     const_cast<char*>(value.constData())});
    }
    const int job = cupsPrintFile2(CUPS_HTTP_DEFAULT, QueueOf(printer.printerName()).constData(),
                                   pdf.toLocal8Bit().constData(), title.toUtf8().constData(),
                                   static_cast<int>(list.size()), list.data());
    if (job == 0) {
        RaiseCannotPrint(printer.printerName());
    }
}

TPrintJob::TPrintJob(QPrinter& printer) : printer_(printer) {
    QPaintDevice* device = &printer;
    if (PrintsOnQueue(printer)) {
        folder_ = std::make_unique<QTemporaryDir>();
        if (!folder_->isValid()) {
            throw Error(std::string("Printer selected is not valid"));
        }
        file_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        file_->setOutputFormat(QPrinter::PdfFormat);
        file_->setOutputFileName(folder_->filePath(QStringLiteral("page.pdf")));
        file_->setResolution(printer.resolution());
        file_->setFullPage(printer.fullPage());
        file_->setPageLayout(printer.pageLayout());
        file_->setColorMode(printer.colorMode());
        file_->setDocName(printer.docName());
        file_->setCreator(printer.creator());
        device = file_.get();
    }
    if (!painter_.begin(device)) {
        throw Error(std::string("Printer selected is not valid"));
    }
}

TPrintJob::~TPrintJob() {
    if (painter_.isActive()) {
        painter_.end();
    }
}

void TPrintJob::Finish() {
    if (!painter_.end()) {
        throw Error(std::string("Printer selected is not valid"));
    }
    if (file_) {
        HandToQueue(printer_, file_->outputFileName(), printer_.docName());
    }
}

}  // namespace lensmere
