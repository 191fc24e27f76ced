#include "app/printersettings.h"

#include <QPrintEngine>

namespace lensmere {

namespace {

// The key under which Qt's CUPS support keeps those options.
const QPrintEngine::PrintEnginePropertyKey kCupsOptions =
    static_cast<QPrintEngine::PrintEnginePropertyKey>(0xfe00);

}  // namespace

QStringList CupsOptions(const QPrinter& printer) {
    return printer.printEngine()->property(kCupsOptions).toStringList();
}

TPrinterSettings::TPrinterSettings(const QPrinter& printer)
    : printer_name_(printer.printerName()),
      format_(printer.outputFormat()),
      file_(printer.outputFileName()),
      layout_(printer.pageLayout()),
      resolution_(printer.resolution()),
      full_page_(printer.fullPage()),
      copies_(printer.copyCount()),
      collate_(printer.collateCopies()),
      duplex_(printer.duplex()),
      colour_(printer.colorMode()),
      order_(printer.pageOrder()),
      cups_options_(CupsOptions(printer)) {}

void TPrinterSettings::Restore(QPrinter& printer) const {
    // The queue first: choosing a queue sets its paper and its other defaults.
    printer.setOutputFormat(format_);
    if (format_ == QPrinter::NativeFormat && !printer_name_.isEmpty()) {
        printer.setPrinterName(printer_name_);
    }
    printer.setOutputFileName(file_);
    printer.setFullPage(full_page_);
    printer.setPageLayout(layout_);
    printer.setResolution(resolution_);
    printer.setCopyCount(copies_);
    printer.setCollateCopies(collate_);
    printer.setDuplex(duplex_);
    printer.setColorMode(colour_);
    printer.setPageOrder(order_);
    printer.printEngine()->setProperty(kCupsOptions, cups_options_);
}

}  // namespace lensmere
