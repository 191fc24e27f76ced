// PDF printers and page rendering for the print dialog tests.
#pragma once

#include <QImage>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRect>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>

namespace lensmere::test {

// A control of a window, found by the name its form gives it; a test failure (and null) when
// there is none of that kind.
QObject* FindControl(const QWidget& window, const char* name);
template <class T = QWidget>
T* Control(const QWidget& window, const char* name) {
    return qobject_cast<T*>(FindControl(window, name));
}

// A 600-dpi PDF printer writing to path, with a page of pageWidth x pageHeight printer
// pixels in all and the given margin (printer pixels) on every side.
std::unique_ptr<QPrinter> PdfPrinter(const QString& path, int page_width, int page_height,
                                     int margin = 0);

// Renders a region of the first page of a PDF file at the given resolution with pdftoppm
// (region in pixels of that resolution from the top-left of the paper). Null when pdftoppm
// is missing or fails.
QImage RenderPdf(const QString& path, int dpi, const QRect& region);
bool HavePdfRenderer();
// The size of the first page of a PDF file in points (pdfinfo); empty when unknown.
QSizeF PdfPageSize(const QString& path);
// The first image stored in a PDF file, as stored (pdfimages); null when unavailable.
QImage FirstPdfImage(const QString& path);
// True when the printed colour matches the picture pixel (i, j) or one of its neighbours:
// a renderer may cover a picture one printer pixel wider than its exact edges.
bool MatchesNear(const QImage& picture, int i, int j, QRgb printed, int tolerance);

// Paper colour, as a PDF renderer shows it.
bool Whiteish(QRgb p);
// The mean colour of `area` of an image, channel by channel.
std::array<int, 3> MeanColour(const QImage& image, const QRect& area);

// left, top, right, bottom as the dialog computes them.
std::array<int, 4> EdgesOf(const QRect& rect);

// Where cups-pdf writes the pages of `printer` (QUORBIT_CUPS_PDF_DIR, else ~/PDF for the queue
// named "PDF"), or empty when the printer is not known to be a cups-pdf queue.
QString CupsPdfFolder(const QPrinterInfo& printer);
// Waits (bounded) until cups-pdf has finished a file in `folder` whose name holds `title`;
// its path, or empty when none came in time.
QString WaitForCupsPdf(const QString& folder, const QString& title, int timeout_ms);

// The default resolution of a queue as lpoptions lists it ("150dpi *300dpi ..."); 0 when
// lpoptions does not say.
int ListedResolution(const QString& queue);

// A cups-pdf queue of its own with the given default resolution, for as long as the object
// lives; not made (made() false) unless running as root with lpadmin and the cups-pdf PPD.
class TemporaryCupsPdfQueue {
  public:
    TemporaryCupsPdfQueue(const QString& name, int dpi);
    ~TemporaryCupsPdfQueue();
    bool Made() const { return made_; }
    // Removes the queue now (as an administrator would); true when it went.
    bool Remove();

  private:
    QString name_;
    bool made_ = false;
};

// A picture of flat 16 x 16 blocks, easy to compare after printing.
QImage BlockPattern(int width, int height);

}  // namespace lensmere::test
