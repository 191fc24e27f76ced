#include "app/albumdialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/bitmapfile.h"
#include "app/errors.h"
#include "app/jpegfile.h"
#include "app/tests/picture_testfiles.h"

extern "C" {
#include <stdio.h>  // jpeglib.h needs FILE

#include <jerror.h>
#include <jpeglib.h>
}

namespace lensmere {
namespace {

using test::EncodeBitmap24;
using test::EncodeJpeg;
using test::MaxChannelDifference;
using test::TestPattern;

class AlbumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::EnsureApplication();
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.filePath("MyPhoto");
        ASSERT_TRUE(QDir().mkpath(folder_));
        SetMessageHandler([this](const QString& text) { reported_.push_back(text.toStdString()); });
        album_ = std::make_unique<TPreviewDlg>();
        // The controls as a user's tools find them: by their object names.
        bevel_ = Named<QFrame>("Bevel1");
        image_ = Named<TPictureBox>("Image1");
        label1_ = Named<QLabel>("Label1");
        label2_ = Named<QLabel>("Label2");
        cancel_ = Named<QPushButton>("CancelBtn");
        list_ = Named<TFileListBox>("FileListBox1");
        popup_ = Named<QMenu>("PopupMenu1");
        delete_file_ = Named<QAction>("DELETEFILE1");
        album_->SetConfirmation([this](QWidget*, const QString& question) {
            questions_.push_back(question);
            return answer_;
        });
    }
    void TearDown() override { SetMessageHandler({}); }

    QString File(const QString& name) const { return folder_ + "/" + name; }
    void Put(const QString& name, const QByteArray& data) { test::WriteFile(File(name), data); }
    // What the main window does before showing the album.
    void Open() {
        list_->SetFileName(folder_);
        list_->Update();
    }
    // A user's click on the item with that name.
    void Choose(const QString& name) {
        TFileListBox* list = list_;
        const int index = static_cast<int>(list->ItemNames().indexOf(name));
        ASSERT_GE(index, 0) << name.toStdString();
        list->setCurrentRow(index);
    }

    template <typename Control>
    Control* Named(const char* name) const {
        Control* control = album_->findChild<Control*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }

    QTemporaryDir dir_;
    QString folder_;
    std::unique_ptr<TPreviewDlg> album_;
    QFrame* bevel_ = nullptr;
    TPictureBox* image_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QPushButton* cancel_ = nullptr;
    TFileListBox* list_ = nullptr;
    QMenu* popup_ = nullptr;
    QAction* delete_file_ = nullptr;
    std::vector<std::string> reported_;
    std::vector<QString> questions_;
    bool answer_ = true;
};

TEST_F(AlbumTest, WindowAndControls) {
    EXPECT_EQ(album_->windowTitle(), "Dialog");
    EXPECT_EQ(album_->objectName(), "PreviewDlg");
    EXPECT_EQ(album_->size(), QSize(476, 296));
    EXPECT_EQ(album_->minimumSize(), album_->maximumSize()) << "not resizable";
    EXPECT_EQ(image_->geometry(), QRect(10, 24, 270, 225));
    EXPECT_EQ(bevel_->geometry(), QRect(4, 16, 282, 241));
    EXPECT_EQ(list_->geometry(), QRect(296, 32, 169, 217));
    EXPECT_EQ(cancel_->geometry(), QRect(296, 260, 170, 25));
    EXPECT_EQ(cancel_->text(), "EXIT");
    EXPECT_EQ(label1_->text(), "MyPhoto");
    EXPECT_TRUE(label1_->font().bold() && label1_->font().underline());
    EXPECT_EQ(label2_->text(), "Pre-view my dream memory");
    EXPECT_TRUE(label2_->font().bold() && label2_->font().italic());
    EXPECT_EQ(delete_file_->text(), "DELETE FILE");
    EXPECT_EQ(list_->PopupMenu(), popup_);
    EXPECT_EQ(list_->mask(), "*.*");

    album_->show();
    QTest::mouseClick(cancel_, Qt::LeftButton);
    EXPECT_FALSE(album_->isVisible());
    EXPECT_EQ(album_->result(), QDialog::Rejected);
}

TEST_F(AlbumTest, ListsOrdinaryFilesSortedWithoutRegardToCase) {
    for (const char* name : {"b.jpg", "A.bmp", "c.JPG", "notes.txt", "README", ".hidden.jpg"}) {
        Put(name, "x");
    }
    ASSERT_TRUE(QDir(folder_).mkdir("Sub.jpg"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(File("pipe.jpg")).constData(), 0600), 0);
    Open();
    TFileListBox* list = list_;
    EXPECT_EQ(list->Directory(), QDir::cleanPath(folder_));
    EXPECT_EQ(list->ItemNames(), QStringList({"A.bmp", "b.jpg", "c.JPG", "notes.txt", "README"}));
    EXPECT_EQ(list->SelectedIndex(), -1);
    EXPECT_EQ(list->FileName(), "");

    Choose("c.JPG");
    EXPECT_EQ(list->FileName(), QDir::cleanPath(folder_) + "/c.JPG");

    // A re-read picks up new files and clears the selection.
    Put("a2.jpg", "x");
    list->Update();
    EXPECT_EQ(list->ItemNames().value(1), "a2.jpg");
    EXPECT_EQ(list->SelectedIndex(), -1);

    list->SetMask("*.jpg;*.BMP");
    EXPECT_EQ(list->ItemNames(), QStringList({"A.bmp", "a2.jpg", "b.jpg", "c.JPG"}));

    // The root folder's file names get no second separator.
    list->SetDirectory("/");
    EXPECT_EQ(list->Directory(), "/");
}

TEST_F(AlbumTest, FileNameRules) {
    Put("one.jpg", "x");
    TFileListBox* list = list_;
    // A file path selects the file in its folder.
    list->SetFileName(File("one.jpg"));
    EXPECT_EQ(list->Directory(), QDir::cleanPath(folder_));
    EXPECT_EQ(list->FileName(), QDir::cleanPath(folder_) + "/one.jpg");
    // The same folder again does not re-read; another one does.
    list->SetFileName(folder_ + "/");
    EXPECT_EQ(list->SelectedIndex(), 0);
    list->SetFileName(dir_.path());
    EXPECT_EQ(list->ItemNames(), QStringList());
}

TEST_F(AlbumTest, MissingFolderReportsFileNotFoundAndDoesNotShow) {
    Open();
    Put("kept.jpg", "x");
    list_->Update();
    const QString missing = dir_.filePath("NoSuchFolder");
    try {
        album_->ShowFolder(missing);
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "File not found");
    }
    EXPECT_FALSE(album_->isVisible());
    EXPECT_EQ(list_->ItemNames(), QStringList({"kept.jpg"}));
    Put("plain", "x");
    EXPECT_THROW(list_->SetDirectory(File("plain") + "/x"), Error);
}

TEST_F(AlbumTest, ShowsJpegAndBitmapPicturesStretched) {
    const QImage photo = TestPattern(644, 484);
    const QByteArray jpeg = EncodeJpeg(photo);
    Put("P1.jpg", jpeg);
    Put("P2.BMP", EncodeBitmap24(TestPattern(322, 242)));
    Put("P3.jpeg", jpeg);
    Open();

    Choose("P1.jpg");
    EXPECT_TRUE(reported_.empty()) << reported_.front();
    EXPECT_TRUE(image_->Stretch());
    EXPECT_EQ(image_->Picture().Kind(), TPicture::Format::Jpeg);
    EXPECT_EQ(MaxChannelDifference(image_->Picture().Image(), DecodeJpeg(jpeg)), 0);

    Choose("P2.BMP");
    EXPECT_EQ(image_->Picture().Kind(), TPicture::Format::Bitmap);
    EXPECT_EQ(MaxChannelDifference(image_->Picture().Image(), TestPattern(322, 242)), 0);

    Choose("P3.jpeg");
    EXPECT_EQ(image_->Picture().Kind(), TPicture::Format::Jpeg);

    // The stretched picture fills the whole control.
    album_->show();
    const QImage shown = image_->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(270, 225));
    EXPECT_NE(shown.pixel(1, 1), album_->palette().color(QPalette::Window).rgb());
    EXPECT_NE(shown.pixel(268, 223), album_->palette().color(QPalette::Window).rgb());
    album_->hide();
    EXPECT_TRUE(reported_.empty());
}

TEST_F(AlbumTest, IconsLoadThroughQt) {
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(qRgb(10, 200, 30));
    if (!icon.save(File("app.ICO"), "ico")) {
        GTEST_SKIP() << "no icon image format";
    }
    Put("bad.ico", "not an icon");
    Open();
    Choose("app.ICO");
    EXPECT_EQ(image_->Picture().Kind(), TPicture::Format::Icon);
    EXPECT_EQ(image_->Picture().Image().pixel(5, 5), qRgb(10, 200, 30));
    Choose("bad.ico");
    EXPECT_EQ(reported_, std::vector<std::string>({"Icon image is not valid"}));
    EXPECT_EQ(image_->Picture().Kind(), TPicture::Format::Icon);
}

TEST_F(AlbumTest, LoadingErrorsKeepThePreviousPicture) {
    Put("A.bmp", EncodeBitmap24(TestPattern(32, 24)));
    Put("broken.bmp", EncodeBitmap24(TestPattern(32, 24)).left(100));
    Put("broken.jpg", "this is not a JPEG file");
    Put("gone.jpg", EncodeJpeg(TestPattern(32, 24)));
    Put("notes.txt", "hello");
    Put("noext", "hello");
    Open();
    Choose("A.bmp");
    const QImage first = image_->Picture().Image();
    ASSERT_FALSE(first.isNull());

    Choose("notes.txt");
    Choose("noext");
    Choose("broken.bmp");
    Choose("broken.jpg");
    ASSERT_TRUE(QFile::remove(File("gone.jpg")));
    Choose("gone.jpg");
    const std::vector<std::string> expected = {
        "Unknown picture file extension (.txt)",
        "Unknown picture file extension (.)",
        "Bitmap image is not valid",
        "JPEG error #" + std::to_string(JERR_NO_SOI),
        "Cannot open file " + QDir::cleanPath(folder_).toStdString() + "/gone.jpg",
    };
    EXPECT_EQ(reported_, expected);
    EXPECT_EQ(image_->Picture().Image(), first);

    // Deleting the vanished file neither asks nor re-reads.
    delete_file_->trigger();
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(list_->FileName(), QDir::cleanPath(folder_) + "/gone.jpg");
    EXPECT_TRUE(list_->ItemNames().contains("gone.jpg"));
}

TEST_F(AlbumTest, DeleteAsksThenDeletesAndKeepsThePicture) {
    Put("P1.jpg", EncodeJpeg(TestPattern(64, 48)));
    Put("P3.jpg", EncodeJpeg(TestPattern(64, 48)));
    Open();

    // Nothing selected: nothing asked.
    delete_file_->trigger();
    EXPECT_TRUE(questions_.empty());

    Choose("P3.jpg");
    const QImage shown = image_->Picture().Image();
    answer_ = false;
    delete_file_->trigger();
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], "Do you really want to delete P3.jpg?");
    EXPECT_TRUE(QFile::exists(File("P3.jpg")));
    EXPECT_EQ(list_->SelectedIndex(), 1);

    answer_ = true;
    delete_file_->trigger();
    EXPECT_FALSE(QFile::exists(File("P3.jpg")));
    EXPECT_EQ(list_->ItemNames(), QStringList({"P1.jpg"}));
    EXPECT_EQ(list_->SelectedIndex(), -1);
    EXPECT_EQ(image_->Picture().Image(), shown) << "the deleted picture stays on show";
    EXPECT_TRUE(reported_.empty());
}

TEST_F(AlbumTest, EmptyFolderMenuDoesNothing) {
    Open();
    EXPECT_EQ(list_->count(), 0);
    delete_file_->trigger();
    EXPECT_TRUE(questions_.empty());
    EXPECT_TRUE(reported_.empty());
    EXPECT_TRUE(image_->Picture().IsEmpty());
}

TEST_F(AlbumTest, RightClickKeepsTheSelection) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        Put(name, EncodeJpeg(TestPattern(16, 16)));
    }
    Open();
    album_->show();
    TFileListBox* list = list_;
    const QPoint on_first = list->visualItemRect(list->item(0)).center();
    const QPoint on_third = list->visualItemRect(list->item(2)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, on_first);
    ASSERT_EQ(list->SelectedIndex(), 0);
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, on_third);
    EXPECT_EQ(list->SelectedIndex(), 0);
    // The menu item acts on the item selected before.
    delete_file_->trigger();
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], "Do you really want to delete a.jpg?");
    album_->hide();
}

TEST_F(AlbumTest, RegularFileInPlaceOfTheFolderReportsAndDoesNotShow) {
    const QString plain = dir_.filePath("MyPhotoFile");
    test::WriteFile(plain, "not a folder");
    bool shown = false;
    QTimer::singleShot(0, album_.get(), [&] {
        shown = album_->isVisible();
        cancel_->click();
    });
    try {
        album_->ShowFolder(plain);
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Invalid filename");
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown);
    EXPECT_FALSE(album_->isVisible());
    EXPECT_NE(list_->Directory(), dir_.path()) << "not the folder around it";
}

TEST_F(AlbumTest, ReopeningShowsTheLastPictureAndAFreshList) {
    Put("P1.jpg", EncodeJpeg(TestPattern(64, 48)));
    Put("P2.jpg", EncodeJpeg(TestPattern(80, 60)));
    QTimer::singleShot(0, album_.get(), [this] {
        Choose("P2.jpg");
        cancel_->click();
    });
    album_->ShowFolder(folder_);
    EXPECT_EQ(image_->Picture().Width(), 80);

    Put("P0.jpg", EncodeJpeg(TestPattern(16, 16)));
    bool checked = false;
    QTimer::singleShot(0, album_.get(), [&] {
        checked = true;
        EXPECT_EQ(list_->ItemNames(), QStringList({"P0.jpg", "P1.jpg", "P2.jpg"}));
        EXPECT_EQ(list_->SelectedIndex(), -1);
        EXPECT_EQ(image_->Picture().Width(), 80);
        QTest::keyClick(album_.get(), Qt::Key_Escape);
    });
    album_->ShowFolder(folder_);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(album_->isVisible());
    EXPECT_TRUE(reported_.empty());
}

TEST(AlbumConfirmBox, AsksWithYesAndNo) {
    test::EnsureApplication();
    std::unique_ptr<QMessageBox> box(
        TPreviewDlg::CreateConfirmBox(nullptr, "Do you really want to delete P3.jpg?"));
    EXPECT_EQ(box->windowTitle(), "Confirm");
    EXPECT_EQ(box->text(), "Do you really want to delete P3.jpg?");
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    const QList<QAbstractButton*> buttons = box->buttons();
    ASSERT_EQ(buttons.size(), 2);
    QStringList texts;
    for (QAbstractButton* button : buttons) {
        texts << button->text();
    }
    texts.sort();
    EXPECT_EQ(texts, QStringList({"&No", "&Yes"}));
    EXPECT_EQ(box->buttonRole(box->escapeButton()), QMessageBox::NoRole);
}

}  // namespace
}  // namespace lensmere
