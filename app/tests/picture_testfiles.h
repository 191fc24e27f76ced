// TPicture files and helpers shared by the decoder and dialog tests.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace lensmere::test {

// The one QApplication of a test binary.
void EnsureApplication();

// A colourful picture with sharp edges and gradients, the same for the same size.
QImage TestPattern(int width, int height);

// JPEG data of an RGB picture, made with libjpeg's defaults at the given quality.
QByteArray EncodeJpeg(const QImage& picture, int quality = 90, bool progressive = false);

// An uncompressed 24-bit Windows bitmap (rows padded to 4 bytes).
QByteArray EncodeBitmap24(const QImage& picture, bool bottom_up = true);

void WriteFile(const QString& path, const QByteArray& data);
QByteArray ReadFile(const QString& path);

// Largest difference of one colour channel over all pixels; -1 when the sizes differ.
int MaxChannelDifference(const QImage& a, const QImage& b);
// Mean absolute difference of the colour channels; a large value when the sizes differ.
double MeanChannelDifference(const QImage& a, const QImage& b);

}  // namespace lensmere::test
