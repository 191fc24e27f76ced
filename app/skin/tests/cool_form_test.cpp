#include "app/skin/cool_form.h"
#include "app/skin/cool_button.h"
#include "app/skin/region_data.h"
#include "app/skin/skin_resources.h"

#include <QDataStream>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace lensmere::skin;

namespace {

QByteArray Block(std::initializer_list<qint32> values) {
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    for (qint32 v : values)
        stream << v;
    return out;
}

class CoolFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = std::make_unique<QWidget>();
        window_->setGeometry(198, 112, 579, 364);
        form_ = new TCoolForm(window_.get());
    }
    std::unique_ptr<QWidget> window_;
    TCoolForm* form_ = nullptr;
};

TEST_F(CoolFormTest, MakesTheWindowFramelessAndFillsIt) {
    EXPECT_TRUE(window_->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(form_->geometry(), QRect(0, 0, 579, 364));
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    window_->resize(600, 400);
    EXPECT_EQ(form_->geometry(), QRect(0, 0, 600, 400));
    EXPECT_TRUE(form_->Draggable());
}

TEST_F(CoolFormTest, ChildParentIsNotMadeFrameless) {
    QWidget* panel = new QWidget(window_.get());
    const Qt::WindowFlags before = panel->windowFlags();
    auto* inner = new TCoolForm(panel);
    EXPECT_EQ(panel->windowFlags(), before);
    EXPECT_EQ(inner->parentWidget(), panel);
}

TEST_F(CoolFormTest, LeftAndTopAlwaysStayZero) {
    form_->SetLeft(25);
    form_->SetTop(25);
    EXPECT_EQ(form_->Left(), 0);
    EXPECT_EQ(form_->Top(), 0);
    form_->SetWidth(300);
    form_->SetHeight(200);
    EXPECT_EQ(form_->size(), QSize(300, 200));
}

TEST_F(CoolFormTest, MainWindowShapeRoundTripsByteForByte) {
    const QByteArray stored = MainWindowMaskData();
    ASSERT_EQ(stored.size(), 484);
    EXPECT_EQ(stored.left(36), Block({480, 32, 1, 28, 448, 6, 7, 574, 360}));
    EXPECT_EQ(stored.mid(36, 16), Block({39, 7, 542, 8}));
    EXPECT_EQ(stored.right(16), Block({34, 359, 546, 360}));
    ASSERT_TRUE(form_->ReadMask(stored));
    EXPECT_EQ(form_->ShapeData(), stored.mid(4));
    EXPECT_EQ(form_->WriteMask(), stored);

    const QRegion shape = window_->mask();
    EXPECT_EQ(shape.rectCount(), 28);
    EXPECT_EQ(shape.boundingRect(), QRect(QPoint(6, 7), QPoint(573, 359)));
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));
    EXPECT_FALSE(shape.contains(QPoint(6, 20)));  // rounded corner: row 20 starts at 7
    EXPECT_TRUE(shape.contains(QPoint(7, 20)));
    EXPECT_TRUE(shape.contains(QPoint(573, 345)));  // right and bottom exclusive
    EXPECT_FALSE(shape.contains(QPoint(574, 345)));
    EXPECT_FALSE(shape.contains(QPoint(300, 360)));
    EXPECT_TRUE(shape.contains(QPoint(300, 359)));
}

TEST_F(CoolFormTest, StreamRoundTripKeepsFollowingData) {
    QByteArray layout = MainWindowMaskData() + QByteArray("after");
    QDataStream in(layout);
    ASSERT_TRUE(form_->ReadMask(in));
    char tail[5];
    ASSERT_EQ(in.readRawData(tail, 5), 5);
    EXPECT_EQ(QByteArray(tail, 5), QByteArray("after"));
    QByteArray written;
    QDataStream out(&written, QIODevice::WriteOnly);
    form_->WriteMask(out);
    EXPECT_EQ(written, MainWindowMaskData());
}

TEST_F(CoolFormTest, ZeroLengthLeavesTheWindowRectangular) {
    ASSERT_TRUE(form_->ReadMask(QByteArray(4, '\0')));
    EXPECT_TRUE(window_->mask().isEmpty());
    EXPECT_FALSE(form_->Mask()->Region.has_value());
    EXPECT_EQ(form_->WriteMask(), QByteArray(4, '\0'));
}

TEST_F(CoolFormTest, MalformedShapeIsRefusedAndChangesNothing) {
    ASSERT_TRUE(form_->ReadMask(MainWindowMaskData()));
    const QRegion before = window_->mask();
    const QByteArray good = MainWindowMaskData();
    // Cut short.
    EXPECT_FALSE(form_->ReadMask(good.left(100)));
    EXPECT_FALSE(form_->ReadMask(QByteArray(2, '\0')));
    // A length far beyond any real shape.
    EXPECT_FALSE(form_->ReadMask(Block({0x7FFFFFF0, 32, 1, 0, 0})));
    // Wrong header size, wrong type, count not matching the length.
    EXPECT_FALSE(form_->ReadMask(Block({48, 24, 1, 1, 16, 0, 0, 1, 1, 0, 0, 1, 1})));
    EXPECT_FALSE(form_->ReadMask(Block({48, 32, 2, 1, 16, 0, 0, 1, 1, 0, 0, 1, 1})));
    EXPECT_FALSE(form_->ReadMask(Block({48, 32, 1, 2, 32, 0, 0, 1, 1, 0, 0, 1, 1})));
    // A rectangle turned inside out.
    EXPECT_FALSE(form_->ReadMask(Block({48, 32, 1, 1, 16, 0, 0, 9, 9, 5, 5, 2, 9})));
    EXPECT_EQ(window_->mask(), before);
    EXPECT_EQ(form_->WriteMask(), good);
}

TEST_F(CoolFormTest, UnorderedRectanglesStillGiveTheirUnion) {
    // Two overlapping rectangles in no particular order.
    ASSERT_TRUE(
        form_->ReadMask(Block({64, 32, 1, 2, 32, 0, 0, 30, 30, 10, 10, 30, 30, 0, 0, 20, 20})));
    const QRegion shape = window_->mask();
    EXPECT_TRUE(shape.contains(QPoint(5, 5)));
    EXPECT_TRUE(shape.contains(QPoint(25, 25)));
    EXPECT_FALSE(shape.contains(QPoint(25, 5)));
    // Written back in banded order, without overlaps.
    const QByteArray written = form_->WriteMask();
    const auto decoded = DecodeRegionData(written.mid(4));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, shape);
}

TEST_F(CoolFormTest, NewPictureDropsTheHeldShapeButTheWindowKeepsIt) {
    ASSERT_TRUE(form_->ReadMask(MainWindowMaskData()));
    form_->SetPicture(QImage(10, 10, QImage::Format_Indexed8));
    EXPECT_FALSE(form_->Mask()->Region.has_value());
    EXPECT_EQ(window_->mask().rectCount(), 28);
    EXPECT_EQ(form_->WriteMask(), QByteArray(4, '\0'));
}

TEST_F(CoolFormTest, ReplacingTheHolderTakesOwnershipWithoutReshaping) {
    ASSERT_TRUE(form_->ReadMask(MainWindowMaskData()));
    auto holder = std::make_unique<TRegionType>();
    holder->Region = QRegion(0, 0, 5, 5);
    TRegionType* raw = holder.get();
    form_->SetMask(std::move(holder));
    EXPECT_EQ(form_->Mask(), raw);
    EXPECT_EQ(raw->Owner, form_);
    EXPECT_EQ(window_->mask().rectCount(), 28);
    form_->SetMask(nullptr);  // empty value: ignored
    EXPECT_EQ(form_->Mask(), raw);
}

TEST(MainWindowSkin, InstalledSkinLiesBelowTheOtherControls) {
    QWidget window;
    window.resize(579, 364);
    auto* button = new TCoolButton(&window);
    button->setGeometry(480, 300, 75, 29);
    TCoolForm* skin = InstallMainWindowSkin(&window);
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(skin->TPicture().size(), QSize(579, 363));
    EXPECT_EQ(skin->TPicture().format(), QImage::Format_Indexed8);
    EXPECT_EQ(window.mask().rectCount(), 28);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.childAt(500, 310), button);
    EXPECT_EQ(window.childAt(20, 200), skin);
}

// Without a window manager (the offscreen platform has none) the window follows the pointer.
TEST_F(CoolFormTest, LeftPressDragMovesTheWindowOtherButtonsDoNot) {
    form_->lower();
    auto* button = new TCoolButton(window_.get());
    button->setGeometry(480, 300, 75, 29);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    const QPoint start = window_->pos();
    QSignalSpy drags(form_, &TCoolForm::DragMoveStarted);

    QTest::mousePress(form_, Qt::RightButton, {}, QPoint(100, 100));
    QTest::mouseMove(form_, QPoint(150, 130));
    QTest::mouseRelease(form_, Qt::RightButton, {}, QPoint(150, 130));
    EXPECT_EQ(window_->pos(), start);
    EXPECT_EQ(drags.count(), 0);

    QTest::mousePress(form_, Qt::LeftButton, {}, QPoint(100, 100));
    ASSERT_EQ(drags.count(), 1);
    EXPECT_FALSE(drags.at(0).at(0).toBool());
    EXPECT_TRUE(form_->FollowingPointer());
    QTest::mouseMove(form_, QPoint(140, 125));
    EXPECT_EQ(window_->pos(), start + QPoint(40, 25));
    QTest::mouseRelease(form_, Qt::LeftButton, {}, QPoint(140, 125) - QPoint(40, 25));
    EXPECT_FALSE(form_->FollowingPointer());
    EXPECT_EQ(window_->pos(), start + QPoint(40, 25));

    // A press on a control lying on the skin does not move the window.
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(button, QPoint(60, 40));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(60, 40));
    EXPECT_EQ(window_->pos(), start + QPoint(40, 25));
    EXPECT_EQ(drags.count(), 1);
}

TEST(RegionData, EncodesTheStoredLayout) {
    QRegion region(QRect(1, 2, 3, 4));
    const QByteArray data = EncodeRegionData(region);
    EXPECT_EQ(data, Block({32, 1, 1, 16, 1, 2, 4, 6, 1, 2, 4, 6}));
    EXPECT_EQ(EncodeRegionData(QRegion()), Block({32, 1, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
