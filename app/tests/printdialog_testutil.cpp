#include "app/tests/printdialog_testutil.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPageLayout>
#include <QPageSize>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdlib>

#include <unistd.h>

namespace lensmere::test {

QObject* FindControl(const QWidget& window, const char* name) {
    QObject* control = window.findChild<QObject*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << "no control " << name;
    return control;
}

std::unique_ptr<QPrinter> PdfPrinter(const QString& path, int page_width, int page_height,
                                     int margin) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    printer->setResolution(600);
    printer->setFullPage(false);
    const QPageSize size(QSizeF(page_width / 600.0, page_height / 600.0), QPageSize::Inch,
                         QStringLiteral("test"), QPageSize::ExactMatch);
    const double m = margin / 600.0 * 72.0;
    printer->setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF(m, m, m, m),
                                       QPageLayout::Point, QMarginsF(0, 0, 0, 0)));
    return printer;
}

QString CupsPdfFolder(const QPrinterInfo& printer) {
    const QString configured = qEnvironmentVariable("QUORBIT_CUPS_PDF_DIR");
    if (!configured.isEmpty()) {
        return configured;
    }
    if (printer.printerName() == QLatin1String("PDF")) {
        return QDir::homePath() + "/PDF";
    }
    return QString();
}

QString WaitForCupsPdf(const QString& folder, const QString& title, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    qint64 last_size = -1;
    while (timer.elapsed() < timeout_ms) {
        const QFileInfoList files =
            QDir(folder).entryInfoList({"*" + title + "*.pdf"}, QDir::Files);
        if (!files.isEmpty()) {
            // cups-pdf writes the file in pieces: done once its size holds still.
            const qint64 size = files.first().size();
            if (size > 0 && size == last_size) {
                return files.first().absoluteFilePath();
            }
            last_size = size;
        }
        QThread::msleep(200);  // poll interval
    }
    return QString();
}

bool HavePdfRenderer() {
    return !QStandardPaths::findExecutable("pdftoppm").isEmpty();
}

QImage RenderPdf(const QString& path, int dpi, const QRect& region) {
    const QString tool = QStandardPaths::findExecutable("pdftoppm");
    if (tool.isEmpty()) {
        return QImage();
    }
    QTemporaryDir dir;
    const QString base = dir.filePath("page");
    QProcess process;
    process.start(tool, {"-r", QString::number(dpi), "-x", QString::number(region.x()), "-y",
                         QString::number(region.y()), "-W", QString::number(region.width()), "-H",
                         QString::number(region.height()), "-f", "1", "-l", "1", "-singlefile",
                         "-png", path, base});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        return QImage();
    }
    return QImage(base + ".png");
}

QSizeF PdfPageSize(const QString& path) {
    const QString tool = QStandardPaths::findExecutable("pdfinfo");
    if (tool.isEmpty()) {
        return QSizeF();
    }
    QProcess process;
    process.start(tool, {path});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        return QSizeF();
    }
    static const QRegularExpression size("^Page size:\\s+([0-9.]+) x ([0-9.]+) pts",
                                         QRegularExpression::MultilineOption);
    const auto match = size.match(QString::fromLocal8Bit(process.readAllStandardOutput()));
    return match.hasMatch() ? QSizeF(match.captured(1).toDouble(), match.captured(2).toDouble())
                            : QSizeF();
}

QImage FirstPdfImage(const QString& path) {
    const QString tool = QStandardPaths::findExecutable("pdfimages");
    if (tool.isEmpty()) {
        return QImage();
    }
    QTemporaryDir dir;
    QProcess process;
    process.start(tool, {"-png", "-f", "1", "-l", "1", path, dir.filePath("img")});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        return QImage();
    }
    return QImage(dir.filePath("img-000.png"));
}

bool MatchesNear(const QImage& picture, int i, int j, QRgb printed, int tolerance) {
    for (int dj = -1; dj <= 1; ++dj) {
        for (int di = -1; di <= 1; ++di) {
            const int x = i + di, y = j + dj;
            if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) {
                continue;
            }
            const QRgb p = picture.pixel(x, y);
            if (std::abs(qRed(p) - qRed(printed)) <= tolerance &&
                std::abs(qGreen(p) - qGreen(printed)) <= tolerance &&
                std::abs(qBlue(p) - qBlue(printed)) <= tolerance) {
                return true;
            }
        }
    }
    return false;
}

bool Whiteish(QRgb p) {
    return qRed(p) >= 245 && qGreen(p) >= 245 && qBlue(p) >= 245;
}

std::array<int, 3> MeanColour(const QImage& image, const QRect& area) {
    long sum[3] = {0, 0, 0};
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            sum[0] += qRed(p);
            sum[1] += qGreen(p);
            sum[2] += qBlue(p);
        }
    }
    const long n = std::max<long>(1, long(area.width()) * area.height());
    return {int(sum[0] / n), int(sum[1] / n), int(sum[2] / n)};
}

std::array<int, 4> EdgesOf(const QRect& rect) {
    return {rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1};
}

int ListedResolution(const QString& queue) {
    QProcess lpoptions;
    lpoptions.start("lpoptions", {"-p", queue, "-l"});
    if (!lpoptions.waitForFinished(10000)) {
        return 0;
    }
    static const QRegularExpression chosen("^Resolution/.*\\*(\\d+)dpi",
                                           QRegularExpression::MultilineOption);
    const auto match = chosen.match(QString::fromLocal8Bit(lpoptions.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

namespace {
const char* const kCupsPdfPpd = "/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd";
}

TemporaryCupsPdfQueue::TemporaryCupsPdfQueue(const QString& name, int dpi) : name_(name) {
    if (::geteuid() != 0 || QStandardPaths::findExecutable("lpadmin").isEmpty() ||
        !QFile::exists(kCupsPdfPpd)) {
        return;
    }
    QProcess lpadmin;
    lpadmin.start("lpadmin", {"-p", name, "-v", "cups-pdf:/", "-P", kCupsPdfPpd, "-o",
                              QStringLiteral("Resolution-default=%1dpi").arg(dpi), "-E"});
    made_ = lpadmin.waitForFinished(30000) && lpadmin.exitCode() == 0;
}

TemporaryCupsPdfQueue::~TemporaryCupsPdfQueue() {
    Remove();
}

bool TemporaryCupsPdfQueue::Remove() {
    if (made_ && QProcess::execute("lpadmin", {"-x", name_}) == 0) {
        made_ = false;
        return true;
    }
    return false;
}

QImage BlockPattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int bx = x / 16, by = y / 16;
            image.setPixel(
                x, y, qRgb((bx * 37) % 200 + 20, (by * 53) % 200 + 30, ((bx + by) * 29) % 200));
        }
    }
    return image;
}

}  // namespace lensmere::test
