#include "app/skin/cool_button.h"
#include "app/skin/tests/strip_fixtures.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using lensmere::skin::TCoolButton;
using namespace lensmere::skin;
using skin_test::kCellColors;
using skin_test::kGround;
using skin_test::MakeStrip;

namespace {

constexpr QRgb kWindowColor = qRgb(9, 9, 9);

// A window with one main-window-sized button (75 x 29) carrying a 293 x 30 strip of four
// 73-pixel cells, like the program's buttons.
class CoolButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = std::make_unique<QWidget>();
        window_->setGeometry(100, 100, 240, 120);
        QPalette palette = window_->palette();
        palette.setColor(QPalette::Window, QColor(kWindowColor));
        window_->setPalette(palette);
        window_->setAutoFillBackground(true);
        button_ = new TCoolButton(window_.get());
        button_->setGeometry(20, 20, 75, 29);
        button_->SetGlyph(MakeStrip(4, 73, 30, 1));
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    // Which strip cell the button shows now (-1: none of them).
    int ShownCell(TCoolButton* button = nullptr) {
        button = button ? button : button_;
        const QImage shot = window_->grab().toImage();
        const QRgb seen = shot.pixel(button->pos() + QPoint(1 + 36, 14)) & 0xFFFFFF;
        for (int i = 0; i < 4; ++i)
            if ((kCellColors[i] & 0xFFFFFF) == seen)
                return i;
        return -1;
    }

    // A pointer move without buttons held, as the window system delivers it.
    static void Hover(TCoolButton* button, QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(button->mapToGlobal(at)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(button, &move);
    }

    std::unique_ptr<QWidget> window_;
    TCoolButton* button_ = nullptr;
    const QPoint face_{10, 10};        // a face pixel of cell 0 in strip coordinates
    const QPoint transparent_{0, 28};  // a ground pixel (bottom-left corner)
};

TEST_F(CoolButtonTest, HotOnFacePixelsOnlyAndPressedLookWhileHeld) {
    EXPECT_EQ(ShownCell(), StateUp);
    Hover(button_, transparent_);
    EXPECT_FALSE(button_->Hot());
    Hover(button_, face_);
    EXPECT_TRUE(button_->Hot());
    EXPECT_EQ(ShownCell(), StateHot);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(ShownCell(), StatePressed);
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(clicks.count(), 1);
    // After a click the hot look waits for the next move.
    EXPECT_FALSE(button_->Hot());
    EXPECT_EQ(ShownCell(), StateUp);
    Hover(button_, face_);
    EXPECT_EQ(ShownCell(), StateHot);
    // Leaving the button drops the hot look.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button_, &leave);
    EXPECT_FALSE(button_->Hot());
    EXPECT_EQ(ShownCell(), StateUp);
}

TEST_F(CoolButtonTest, PressOnTransparentPixelShowsNoPressedLookButClicks) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    Hover(button_, transparent_);
    QTest::mousePress(button_, Qt::LeftButton, {}, transparent_);
    EXPECT_TRUE(button_->Dragging());
    EXPECT_EQ(ShownCell(), StateUp);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, transparent_);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(CoolButtonTest, DraggingOutAndReleasingOutsideDoesNotClick) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    Hover(button_, face_);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    QTest::mouseMove(button_, QPoint(120, 10));
    EXPECT_FALSE(button_->Hot());
    EXPECT_EQ(button_->Look(), StateUp);
    EXPECT_EQ(ShownCell(), StateUp);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(120, 10));
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_FALSE(button_->Dragging());
}

TEST_F(CoolButtonTest, DraggingBackInBeforeReleasingClicks) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    Hover(button_, face_);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    QTest::mouseMove(button_, QPoint(120, 10));
    QTest::mouseMove(button_, face_);
    EXPECT_TRUE(button_->Hot());
    EXPECT_EQ(ShownCell(), StatePressed);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(CoolButtonTest, RowJustBelowCountsAsInsideButNotTheColumnToTheRight) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(10, button_->height()));
    EXPECT_EQ(clicks.count(), 1);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(10, button_->height() + 1));
    EXPECT_EQ(clicks.count(), 1);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(button_->width(), 10));
    EXPECT_EQ(clicks.count(), 1);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(-1, 10));
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(CoolButtonTest, DoubleClickClicksTwice) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    // Qt delivers press, release, press, double-click, release.
    QTest::mouseClick(button_, Qt::LeftButton, {}, face_);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    QTest::mouseDClick(button_, Qt::LeftButton, {}, face_);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(clicks.count(), 2);
    // A double-click event standing in for the second press counts the same.
    QTest::mouseClick(button_, Qt::LeftButton, {}, face_);
    QTest::mouseDClick(button_, Qt::LeftButton, {}, face_);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(clicks.count(), 4);
}

TEST_F(CoolButtonTest, OnlyTheLeftButtonPresses) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    QSignalSpy downs(button_, &TCoolButton::MouseDown);
    QTest::mouseClick(button_, Qt::RightButton, {}, face_);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(downs.count(), 1);  // the mouse-down event still fires
}

TEST_F(CoolButtonTest, DisabledShowsCellOneIgnoresPressesThenCellZeroUntilMoved) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    Hover(button_, face_);
    ASSERT_EQ(ShownCell(), StateHot);
    button_->setEnabled(false);
    EXPECT_EQ(ShownCell(), StateDisabled);
    QTest::mouseClick(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(ShownCell(), StateDisabled);
    button_->setEnabled(true);
    EXPECT_FALSE(button_->Hot());
    EXPECT_EQ(ShownCell(), StateUp);
    Hover(button_, face_);
    EXPECT_EQ(ShownCell(), StateHot);
    QTest::mouseClick(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(clicks.count(), 1);
}

TEST_F(CoolButtonTest, DisablingDuringAPressEndsIt) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    button_->setEnabled(false);
    EXPECT_FALSE(button_->Dragging());
    button_->setEnabled(true);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(clicks.count(), 0);
}

TEST_F(CoolButtonTest, NumGlyphsSetterLimits) {
    EXPECT_EQ(button_->NumGlyphs(), 4);
    button_->SetNumGlyphs(2);
    EXPECT_EQ(button_->NumGlyphs(), 2);
    button_->SetNumGlyphs(7);
    EXPECT_EQ(button_->NumGlyphs(), 4);
    button_->SetNumGlyphs(0);
    EXPECT_EQ(button_->NumGlyphs(), 4);
    button_->SetNumGlyphs(-3);
    EXPECT_EQ(button_->NumGlyphs(), 4);
}

TEST_F(CoolButtonTest, NumGlyphsFollowsTheStripShape) {
    button_->SetNumGlyphs(2);
    button_->SetGlyph(QImage(293, 30, QImage::Format_RGB32));
    EXPECT_EQ(button_->NumGlyphs(), 2);  // 293 is no multiple of 30
    button_->SetGlyph(QImage(120, 30, QImage::Format_RGB32));
    EXPECT_EQ(button_->NumGlyphs(), 4);
    button_->SetGlyph(QImage(180, 30, QImage::Format_RGB32));
    EXPECT_EQ(button_->NumGlyphs(), 1);
    button_->SetGlyph(QImage(60, 30, QImage::Format_RGB32));
    EXPECT_EQ(button_->NumGlyphs(), 2);
    button_->SetGlyph(QImage(30, 30, QImage::Format_RGB32));
    EXPECT_EQ(button_->NumGlyphs(), 1);
}

TEST_F(CoolButtonTest, TwoCellsPressedAndHotUseCellZero) {
    // 146 x 30: two 73-pixel cells, no shape rule applies (146 is no multiple of 30).
    button_->SetGlyph(MakeStrip(2, 73, 30));
    button_->SetNumGlyphs(2);
    Hover(button_, face_);
    EXPECT_TRUE(button_->Hot());
    EXPECT_EQ(ShownCell(), 0);
    QTest::mousePress(button_, Qt::LeftButton, {}, face_);
    EXPECT_EQ(ShownCell(), 0);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, face_);
    button_->setEnabled(false);
    EXPECT_EQ(ShownCell(), 1);
}

TEST_F(CoolButtonTest, HotTrackingReadsTheStripAtPointerCoordinates) {
    // Cell 0 is drawn one pixel to the right, so at x = 2 the button shows the cell's ground
    // column 1, but the strip's own column 2 is face: the strip is read at the pointer's position.
    Hover(button_, QPoint(2, 10));
    EXPECT_TRUE(button_->Hot());
    Hover(button_, QPoint(1, 10));
    EXPECT_FALSE(button_->Hot());
    Hover(button_, QPoint(73, 10));  // first column of cell 1: ground
    EXPECT_FALSE(button_->Hot());
    Hover(button_, QPoint(10, 29));  // below the strip's last row
    EXPECT_FALSE(button_->Hot());
}

TEST_F(CoolButtonTest, NoHotLookWhenAnotherControlLiesOnTop) {
    auto* cover = new QWidget(window_.get());
    cover->setGeometry(button_->x(), button_->y(), 30, 29);
    cover->show();
    Hover(button_, face_);
    EXPECT_FALSE(button_->Hot());
    Hover(button_, QPoint(50, 10));
    EXPECT_TRUE(button_->Hot());
}

TEST_F(CoolButtonTest, AcceleratorClicksOnlyWhileEnabled) {
    QSignalSpy clicks(button_, &TCoolButton::Clicked);
    button_->SetCaption(QStringLiteral("E&xit"));
    window_->activateWindow();
    QTest::keyClick(window_.get(), Qt::Key_X, Qt::AltModifier);
    EXPECT_EQ(clicks.count(), 1);
    button_->setEnabled(false);
    QTest::keyClick(window_.get(), Qt::Key_X, Qt::AltModifier);
    EXPECT_EQ(clicks.count(), 1);
}

TEST(CoolButtonDefaults, NewButtonState) {
    TCoolButton button;
    EXPECT_EQ(button.geometry(), QRect(0, 0, 25, 25));
    EXPECT_EQ(button.NumGlyphs(), 4);
    EXPECT_EQ(button.Margin(), -1);
    EXPECT_EQ(button.Spacing(), 4);
    EXPECT_EQ(button.Layout(), blGlyphLeft);
    EXPECT_FALSE(button.Down());
    EXPECT_EQ(button.ButtonGlyph().TransparentColor() & 0xFFFFFF, qRgb(128, 128, 0) & 0xFFFFFF);
    button.SetMargin(-2);
    EXPECT_EQ(button.Margin(), -1);
    button.SetMargin(3);
    EXPECT_EQ(button.Margin(), 3);
    // Down stays false outside a group.
    button.SetDown(true);
    EXPECT_FALSE(button.Down());
}

TEST(CoolButtonGlyph, TransparentColourIsTheBottomLeftPixel) {
    TButtonGlyph glyph;
    QImage strip = MakeStrip(4, 73, 30, 1);
    strip.setPixel(0, 29, qRgb(1, 2, 3));
    glyph.SetGlyph(strip);
    EXPECT_EQ(glyph.TransparentColor() & 0xFFFFFF, qRgb(1, 2, 3) & 0xFFFFFF);
}

}  // namespace
