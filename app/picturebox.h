// A picture loaded from a file by its extension, and the control that shows it.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>

#include "jpegdecoder.h"

namespace lensmere {

class Picture {
  public:
    enum class Kind { Empty, Bitmap, Jpeg, Icon };

    // The format follows the extension, without regard to case: "bmp", "jpg"/"jpeg", "ico".
    // Metafile extensions are recognised but cannot be drawn here. Raises
    // "Unknown picture file extension (.%s)" before the file is opened, or the decoder's
    // error; the previous picture stays when loading fails.
    void loadFromFile(const QString& path);
    void clear();

    Kind kind() const { return kind_; }
    bool isEmpty() const { return image_.isNull(); }
    int width() const { return image_.width(); }
    int height() const { return image_.height(); }
    const QImage& image() const { return image_; }

    // JPEG decoding options; every new file starts with the defaults. Changing them decodes
    // the kept file data again (and may raise the decoder's error). No effect on other kinds.
    const JpegDecodeOptions& jpegOptions() const { return jpegOptions_; }
    void setJpegOptions(const JpegDecodeOptions& options);
    // Only recorded: pictures are decoded in one piece.
    bool progressiveDisplay() const { return progressiveDisplay_; }
    void setProgressiveDisplay(bool on) { progressiveDisplay_ = on; }

  private:
    Kind kind_ = Kind::Empty;
    QImage image_;
    QByteArray jpegData_;
    JpegDecodeOptions jpegOptions_;
    bool progressiveDisplay_ = false;
};

class PictureBox : public QWidget {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget* parent = nullptr);

    Picture& picture() { return picture_; }
    const Picture& picture() const { return picture_; }
    void loadFromFile(const QString& path);

    // Stretched: the picture fills the whole control, each axis scaled by itself.
    bool stretch() const { return stretch_; }
    void setStretch(bool on);
    bool incrementalDisplay() const { return incrementalDisplay_; }
    void setIncrementalDisplay(bool on) { incrementalDisplay_ = on; }
    // Call after changing the picture through picture().
    void pictureChanged() { update(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Picture picture_;
    bool stretch_ = false;
    bool incrementalDisplay_ = false;
};

}  // namespace lensmere
