// A picture loaded from a file by its extension, and the control that shows it.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QWidget>

#include "app/jpegfile.h"

namespace lensmere {

class TPicture {
  public:
    enum class Format { Empty, Bitmap, Jpeg, Icon };

    // The format follows the extension, without regard to case: "bmp", "jpg"/"jpeg", "ico".
    // Metafile extensions are recognised but cannot be drawn here. Raises
    // "Unknown picture file extension (.%s)" before the file is opened, or the decoder's
    // error; the previous picture stays when loading fails.
    void LoadFromFile(const QString& path);
    void Clear();

    Format Kind() const { return kind_; }
    bool IsEmpty() const { return image_.isNull(); }
    int Width() const { return image_.width(); }
    int Height() const { return image_.height(); }
    const QImage& Image() const { return image_; }

    // JPEG decoding options; every new file starts with the defaults. Changing them decodes
    // the kept file data again (and may raise the decoder's error). No effect on other kinds.
    const JpegDecodeOptions& JpegOptions() const { return jpeg_options_; }
    void SetJpegOptions(const JpegDecodeOptions& options);
    // Only recorded: pictures are decoded in one piece.
    bool ProgressiveDisplay() const { return progressive_display_; }
    void SetProgressiveDisplay(bool on) { progressive_display_ = on; }

  private:
    Format kind_ = Format::Empty;
    QImage image_;
    QByteArray jpeg_data_;
    JpegDecodeOptions jpeg_options_;
    bool progressive_display_ = false;
};

class TPictureBox : public QWidget {
    Q_OBJECT
  public:
    explicit TPictureBox(QWidget* parent = nullptr);

    TPicture& Picture() { return picture_; }
    const TPicture& Picture() const { return picture_; }
    void LoadFromFile(const QString& path);

    // Stretched: the picture fills the whole control, each axis scaled by itself.
    bool Stretch() const { return stretch_; }
    void SetStretch(bool on);
    bool IncrementalDisplay() const { return incremental_display_; }
    void SetIncrementalDisplay(bool on) { incremental_display_ = on; }
    // Call after changing the picture through picture().
    void PictureChanged() { update(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    TPicture picture_;
    bool stretch_ = false;
    bool incremental_display_ = false;
};

}  // namespace lensmere
