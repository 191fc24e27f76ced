#include "albumdialog.h"

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

#include "dialogerror.h"
#include "jpegdecoder.h"
#include "jpegdecoder_testfiles.h"

extern "C" {
#include <stdio.h>  // jpeglib.h needs FILE

#include <jerror.h>
#include <jpeglib.h>
}

namespace lensmere {
namespace {

using test::encodeBitmap24;
using test::encodeJpeg;
using test::maxChannelDifference;
using test::testPattern;

class AlbumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::ensureApplication();
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.filePath("MyPhoto");
        ASSERT_TRUE(QDir().mkpath(folder_));
        setErrorReport(
            [this](QWidget*, const std::exception& error) { reported_.push_back(error.what()); });
        album_ = std::make_unique<TPreviewDlg>();
        album_->setConfirmation([this](QWidget*, const QString& question) {
            questions_.push_back(question);
            return answer_;
        });
    }
    void TearDown() override { setErrorReport(nullptr); }

    QString file(const QString& name) const { return folder_ + "/" + name; }
    void put(const QString& name, const QByteArray& data) { test::writeFile(file(name), data); }
    // What the main window does before showing the album.
    void open() {
        album_->FileListBox1->setFileName(folder_);
        album_->FileListBox1->update();
    }
    // A user's click on the item with that name.
    void choose(const QString& name) {
        FileListBox* list = album_->FileListBox1;
        const int index = static_cast<int>(list->itemNames().indexOf(name));
        ASSERT_GE(index, 0) << name.toStdString();
        list->setCurrentRow(index);
    }

    QTemporaryDir dir_;
    QString folder_;
    std::unique_ptr<TPreviewDlg> album_;
    std::vector<std::string> reported_;
    std::vector<QString> questions_;
    bool answer_ = true;
};

TEST_F(AlbumTest, WindowAndControls) {
    EXPECT_EQ(album_->windowTitle(), "Dialog");
    EXPECT_EQ(album_->objectName(), "PreviewDlg");
    EXPECT_EQ(album_->size(), QSize(476, 296));
    EXPECT_EQ(album_->minimumSize(), album_->maximumSize()) << "not resizable";
    EXPECT_EQ(album_->Image1->geometry(), QRect(10, 24, 270, 225));
    EXPECT_EQ(album_->Bevel1->geometry(), QRect(4, 16, 282, 241));
    EXPECT_EQ(album_->FileListBox1->geometry(), QRect(296, 32, 169, 217));
    EXPECT_EQ(album_->CancelBtn->geometry(), QRect(296, 260, 170, 25));
    EXPECT_EQ(album_->CancelBtn->text(), "EXIT");
    EXPECT_EQ(album_->Label1->text(), "MyPhoto");
    EXPECT_TRUE(album_->Label1->font().bold() && album_->Label1->font().underline());
    EXPECT_EQ(album_->Label2->text(), "Pre-view my dream memory");
    EXPECT_TRUE(album_->Label2->font().bold() && album_->Label2->font().italic());
    EXPECT_EQ(album_->DELETEFILE1->text(), "DELETE FILE");
    EXPECT_EQ(album_->FileListBox1->popupMenu(), album_->PopupMenu1);
    EXPECT_EQ(album_->FileListBox1->mask(), "*.*");

    album_->show();
    QTest::mouseClick(album_->CancelBtn, Qt::LeftButton);
    EXPECT_FALSE(album_->isVisible());
    EXPECT_EQ(album_->result(), QDialog::Rejected);
}

TEST_F(AlbumTest, ListsOrdinaryFilesSortedWithoutRegardToCase) {
    for (const char* name : {"b.jpg", "A.bmp", "c.JPG", "notes.txt", "README", ".hidden.jpg"}) {
        put(name, "x");
    }
    ASSERT_TRUE(QDir(folder_).mkdir("Sub.jpg"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(file("pipe.jpg")).constData(), 0600), 0);
    open();
    FileListBox* list = album_->FileListBox1;
    EXPECT_EQ(list->directory(), QDir::cleanPath(folder_));
    EXPECT_EQ(list->itemNames(), QStringList({"A.bmp", "b.jpg", "c.JPG", "notes.txt", "README"}));
    EXPECT_EQ(list->selectedIndex(), -1);
    EXPECT_EQ(list->fileName(), "");

    choose("c.JPG");
    EXPECT_EQ(list->fileName(), QDir::cleanPath(folder_) + "/c.JPG");

    // A re-read picks up new files and clears the selection.
    put("a2.jpg", "x");
    list->update();
    EXPECT_EQ(list->itemNames().value(1), "a2.jpg");
    EXPECT_EQ(list->selectedIndex(), -1);

    list->setMask("*.jpg;*.BMP");
    EXPECT_EQ(list->itemNames(), QStringList({"A.bmp", "a2.jpg", "b.jpg", "c.JPG"}));

    // The root folder's file names get no second separator.
    list->setDirectory("/");
    EXPECT_EQ(list->directory(), "/");
}

TEST_F(AlbumTest, FileNameRules) {
    put("one.jpg", "x");
    FileListBox* list = album_->FileListBox1;
    // A file path selects the file in its folder.
    list->setFileName(file("one.jpg"));
    EXPECT_EQ(list->directory(), QDir::cleanPath(folder_));
    EXPECT_EQ(list->fileName(), QDir::cleanPath(folder_) + "/one.jpg");
    // The same folder again does not re-read; another one does.
    list->setFileName(folder_ + "/");
    EXPECT_EQ(list->selectedIndex(), 0);
    list->setFileName(dir_.path());
    EXPECT_EQ(list->itemNames(), QStringList());
}

TEST_F(AlbumTest, MissingFolderReportsFileNotFoundAndDoesNotShow) {
    open();
    put("kept.jpg", "x");
    album_->FileListBox1->update();
    const QString missing = dir_.filePath("NoSuchFolder");
    try {
        album_->ShowFolder(missing);
        FAIL() << "no error";
    } catch (const DialogError& error) {
        EXPECT_STREQ(error.what(), "File not found");
    }
    EXPECT_FALSE(album_->isVisible());
    EXPECT_EQ(album_->FileListBox1->itemNames(), QStringList({"kept.jpg"}));
    put("plain", "x");
    EXPECT_THROW(album_->FileListBox1->setDirectory(file("plain") + "/x"), DialogError);
}

TEST_F(AlbumTest, ShowsJpegAndBitmapPicturesStretched) {
    const QImage photo = testPattern(644, 484);
    const QByteArray jpeg = encodeJpeg(photo);
    put("P1.jpg", jpeg);
    put("P2.BMP", encodeBitmap24(testPattern(322, 242)));
    put("P3.jpeg", jpeg);
    open();

    choose("P1.jpg");
    EXPECT_TRUE(reported_.empty()) << reported_.front();
    EXPECT_TRUE(album_->Image1->stretch());
    EXPECT_EQ(album_->Image1->picture().kind(), Picture::Kind::Jpeg);
    EXPECT_EQ(maxChannelDifference(album_->Image1->picture().image(), decodeJpeg(jpeg)), 0);

    choose("P2.BMP");
    EXPECT_EQ(album_->Image1->picture().kind(), Picture::Kind::Bitmap);
    EXPECT_EQ(maxChannelDifference(album_->Image1->picture().image(), testPattern(322, 242)), 0);

    choose("P3.jpeg");
    EXPECT_EQ(album_->Image1->picture().kind(), Picture::Kind::Jpeg);

    // The stretched picture fills the whole control.
    album_->show();
    const QImage shown = album_->Image1->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(270, 225));
    EXPECT_NE(shown.pixel(1, 1), album_->palette().color(QPalette::Window).rgb());
    EXPECT_NE(shown.pixel(268, 223), album_->palette().color(QPalette::Window).rgb());
    album_->hide();
    EXPECT_TRUE(reported_.empty());
}

TEST_F(AlbumTest, IconsLoadThroughQt) {
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(qRgb(10, 200, 30));
    if (!icon.save(file("app.ICO"), "ico")) {
        GTEST_SKIP() << "no icon image format";
    }
    put("bad.ico", "not an icon");
    open();
    choose("app.ICO");
    EXPECT_EQ(album_->Image1->picture().kind(), Picture::Kind::Icon);
    EXPECT_EQ(album_->Image1->picture().image().pixel(5, 5), qRgb(10, 200, 30));
    choose("bad.ico");
    EXPECT_EQ(reported_, std::vector<std::string>({"Icon image is not valid"}));
    EXPECT_EQ(album_->Image1->picture().kind(), Picture::Kind::Icon);
}

TEST_F(AlbumTest, LoadingErrorsKeepThePreviousPicture) {
    put("A.bmp", encodeBitmap24(testPattern(32, 24)));
    put("broken.bmp", encodeBitmap24(testPattern(32, 24)).left(100));
    put("broken.jpg", "this is not a JPEG file");
    put("gone.jpg", encodeJpeg(testPattern(32, 24)));
    put("notes.txt", "hello");
    put("noext", "hello");
    open();
    choose("A.bmp");
    const QImage first = album_->Image1->picture().image();
    ASSERT_FALSE(first.isNull());

    choose("notes.txt");
    choose("noext");
    choose("broken.bmp");
    choose("broken.jpg");
    ASSERT_TRUE(QFile::remove(file("gone.jpg")));
    choose("gone.jpg");
    const std::vector<std::string> expected = {
        "Unknown picture file extension (.txt)",
        "Unknown picture file extension (.)",
        "Bitmap image is not valid",
        "JPEG error #" + std::to_string(JERR_NO_SOI),
        "Cannot open file " + QDir::cleanPath(folder_).toStdString() + "/gone.jpg",
    };
    EXPECT_EQ(reported_, expected);
    EXPECT_EQ(album_->Image1->picture().image(), first);

    // Deleting the vanished file neither asks nor re-reads.
    album_->DELETEFILE1->trigger();
    EXPECT_TRUE(questions_.empty());
    EXPECT_EQ(album_->FileListBox1->fileName(), QDir::cleanPath(folder_) + "/gone.jpg");
    EXPECT_TRUE(album_->FileListBox1->itemNames().contains("gone.jpg"));
}

TEST_F(AlbumTest, DeleteAsksThenDeletesAndKeepsThePicture) {
    put("P1.jpg", encodeJpeg(testPattern(64, 48)));
    put("P3.jpg", encodeJpeg(testPattern(64, 48)));
    open();

    // Nothing selected: nothing asked.
    album_->DELETEFILE1->trigger();
    EXPECT_TRUE(questions_.empty());

    choose("P3.jpg");
    const QImage shown = album_->Image1->picture().image();
    answer_ = false;
    album_->DELETEFILE1->trigger();
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], "Do you really want to delete P3.jpg?");
    EXPECT_TRUE(QFile::exists(file("P3.jpg")));
    EXPECT_EQ(album_->FileListBox1->selectedIndex(), 1);

    answer_ = true;
    album_->DELETEFILE1->trigger();
    EXPECT_FALSE(QFile::exists(file("P3.jpg")));
    EXPECT_EQ(album_->FileListBox1->itemNames(), QStringList({"P1.jpg"}));
    EXPECT_EQ(album_->FileListBox1->selectedIndex(), -1);
    EXPECT_EQ(album_->Image1->picture().image(), shown) << "the deleted picture stays on show";
    EXPECT_TRUE(reported_.empty());
}

TEST_F(AlbumTest, EmptyFolderMenuDoesNothing) {
    open();
    EXPECT_EQ(album_->FileListBox1->count(), 0);
    album_->DELETEFILE1->trigger();
    EXPECT_TRUE(questions_.empty());
    EXPECT_TRUE(reported_.empty());
    EXPECT_TRUE(album_->Image1->picture().isEmpty());
}

TEST_F(AlbumTest, RightClickKeepsTheSelection) {
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
        put(name, encodeJpeg(testPattern(16, 16)));
    }
    open();
    album_->show();
    FileListBox* list = album_->FileListBox1;
    const QPoint onFirst = list->visualItemRect(list->item(0)).center();
    const QPoint onThird = list->visualItemRect(list->item(2)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, onFirst);
    ASSERT_EQ(list->selectedIndex(), 0);
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, onThird);
    EXPECT_EQ(list->selectedIndex(), 0);
    // The menu item acts on the item selected before.
    album_->DELETEFILE1->trigger();
    ASSERT_EQ(questions_.size(), 1u);
    EXPECT_EQ(questions_[0], "Do you really want to delete a.jpg?");
    album_->hide();
}

TEST_F(AlbumTest, RegularFileInPlaceOfTheFolderReportsAndDoesNotShow) {
    const QString plain = dir_.filePath("MyPhotoFile");
    test::writeFile(plain, "not a folder");
    bool shown = false;
    QTimer::singleShot(0, album_.get(), [&] {
        shown = album_->isVisible();
        album_->CancelBtn->click();
    });
    try {
        album_->ShowFolder(plain);
        FAIL() << "no error";
    } catch (const DialogError& error) {
        EXPECT_STREQ(error.what(), "Invalid filename");
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown);
    EXPECT_FALSE(album_->isVisible());
    EXPECT_NE(album_->FileListBox1->directory(), dir_.path()) << "not the folder around it";
}

TEST_F(AlbumTest, ReopeningShowsTheLastPictureAndAFreshList) {
    put("P1.jpg", encodeJpeg(testPattern(64, 48)));
    put("P2.jpg", encodeJpeg(testPattern(80, 60)));
    QTimer::singleShot(0, album_.get(), [this] {
        choose("P2.jpg");
        album_->CancelBtn->click();
    });
    album_->ShowFolder(folder_);
    EXPECT_EQ(album_->Image1->picture().width(), 80);

    put("P0.jpg", encodeJpeg(testPattern(16, 16)));
    bool checked = false;
    QTimer::singleShot(0, album_.get(), [&] {
        checked = true;
        EXPECT_EQ(album_->FileListBox1->itemNames(), QStringList({"P0.jpg", "P1.jpg", "P2.jpg"}));
        EXPECT_EQ(album_->FileListBox1->selectedIndex(), -1);
        EXPECT_EQ(album_->Image1->picture().width(), 80);
        QTest::keyClick(album_.get(), Qt::Key_Escape);
    });
    album_->ShowFolder(folder_);
    EXPECT_TRUE(checked);
    EXPECT_FALSE(album_->isVisible());
    EXPECT_TRUE(reported_.empty());
}

TEST(AlbumConfirmBox, AsksWithYesAndNo) {
    test::ensureApplication();
    std::unique_ptr<QMessageBox> box(
        TPreviewDlg::createConfirmBox(nullptr, "Do you really want to delete P3.jpg?"));
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
