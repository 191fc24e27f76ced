// Picture files and helpers shared by the decoder and dialog tests.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace lensmere::test {

// The one QApplication of a test binary.
void ensureApplication();

// A colourful picture with sharp edges and gradients, the same for the same size.
QImage testPattern(int width, int height);

// JPEG data of an RGB picture, made with libjpeg's defaults at the given quality.
QByteArray encodeJpeg(const QImage& picture, int quality = 90, bool progressive = false);

// An uncompressed 24-bit Windows bitmap (rows padded to 4 bytes).
QByteArray encodeBitmap24(const QImage& picture, bool bottomUp = true);

void writeFile(const QString& path, const QByteArray& data);
QByteArray readFile(const QString& path);

// Largest difference of one colour channel over all pixels; -1 when the sizes differ.
int maxChannelDifference(const QImage& a, const QImage& b);
// Mean absolute difference of the colour channels; a large value when the sizes differ.
double meanChannelDifference(const QImage& a, const QImage& b);

}  // namespace lensmere::test
