#include "app/queueresolution.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <unistd.h>

#include <QRegularExpression>
#include <cmath>

namespace lensmere {

namespace {

int PerInch(int value, ipp_res_t units) {
    return units == IPP_RES_PER_CM ? static_cast<int>(std::lround(value * 2.54)) : value;
}

// Dots per inch across the page in a resolution as CUPS spells it ("300dpi", "600x1200dpi",
// "118dpcm"); 0 for anything else.
int ResolutionFromText(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d+)(?:x\\d+)?\\s*(dpi|dpcm)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return 0;
    }
    const bool per_cm = match.captured(2).compare(QLatin1String("dpcm"), Qt::CaseInsensitive) == 0;
    return PerInch(match.captured(1).toInt(), per_cm ? IPP_RES_PER_CM : IPP_RES_PER_INCH);
}

// The resolution a queue's driver uses when a job names none: the default of its PPD file
// with the destination's options marked. 0 for a queue without a PPD file.
int DriverResolution(cups_dest_t* dest) {
    // CUPS marks its PPD functions deprecated; a queue with a driver keeps its defaults
    // only there (the IPP default it announces stays the driver's original one).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const char* file = cupsGetPPD2(CUPS_HTTP_DEFAULT, dest->name);
    if (file == nullptr) {
        return 0;
    }
    const QByteArray path(file);
    int dpi = 0;
    if (ppd_file_t* ppd = ppdOpenFile(path.constData())) {
        ppdMarkDefaults(ppd);
        cupsMarkOptions(ppd, dest->num_options, dest->options);
        if (ppd_choice_t* choice = ppdFindMarkedChoice(ppd, "Resolution")) {
            dpi = ResolutionFromText(QString::fromLatin1(choice->choice));
        } else if (ppd_attr_t* attribute = ppdFindAttr(ppd, "DefaultResolution", nullptr)) {
            dpi = ResolutionFromText(QString::fromLatin1(attribute->value));
        }
        ppdClose(ppd);
    }
#pragma GCC diagnostic pop
    // A copy made for this call.
    ::unlink(path.constData());
    return dpi;
}

// The default resolution the queue announces.
int AnnouncedResolution(cups_dest_t* dest) {
    cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    if (info == nullptr) {
        return 0;
    }
    int dpi = 0;
    ipp_attribute_t* attribute =
        cupsFindDestDefault(CUPS_HTTP_DEFAULT, dest, info, "printer-resolution");
    if (attribute != nullptr && ippGetValueTag(attribute) == IPP_TAG_RESOLUTION) {
        int y = 0;
        ipp_res_t units = IPP_RES_PER_INCH;
        dpi = PerInch(ippGetResolution(attribute, 0, &y, &units), units);
    }
    cupsFreeDestInfo(info);
    return dpi;
}

}  // namespace

int QueueResolution(const QString& printer_name) {
    if (printer_name.isEmpty()) {
        return 0;
    }
    const QByteArray name = printer_name.toLocal8Bit();
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.constData(), nullptr);
    if (dest == nullptr) {
        return 0;
    }
    // A user's choice for this queue comes with the destination's options, under the
    // driver's name for it or the IPP one.
    int dpi = 0;
    for (const char* option : {"Resolution", "printer-resolution"}) {
        if (const char* value = cupsGetOption(option, dest->num_options, dest->options)) {
            dpi = ResolutionFromText(QString::fromLatin1(value));
            if (dpi > 0) {
                break;
            }
        }
    }
    if (dpi == 0) {
        dpi = DriverResolution(dest);
    }
    if (dpi == 0) {
        dpi = AnnouncedResolution(dest);
    }
    cupsFreeDests(1, dest);
    return dpi;
}

}  // namespace lensmere
