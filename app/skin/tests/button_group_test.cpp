#include "app/skin/cool_button.h"
#include "app/skin/tests/strip_fixtures.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace lensmere::skin;
using skin_test::MakeStrip;

namespace {

class ButtonGroupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = std::make_unique<QWidget>();
        window_->resize(300, 100);
        for (int i = 0; i < 3; ++i) {
            buttons_[i] = new TCoolButton(window_.get());
            buttons_[i]->setGeometry(10 + 80 * i, 10, 75, 29);
            buttons_[i]->SetGlyph(MakeStrip(4, 73, 30, 1));
            buttons_[i]->SetGroupIndex(1);
        }
        other_ = new TCoolButton(window_.get());
        other_->setGeometry(10, 50, 75, 29);
        other_->SetGroupIndex(2);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    }

    void Click(TCoolButton* button) { QTest::mouseClick(button, Qt::LeftButton, {}, {10, 10}); }

    std::unique_ptr<QWidget> window_;
    TCoolButton* buttons_[3] = {};
    TCoolButton* other_ = nullptr;
};

TEST_F(ButtonGroupTest, ClickLatchesOneButtonOfTheGroup) {
    other_->SetDown(true);
    Click(buttons_[0]);
    EXPECT_TRUE(buttons_[0]->Down());
    Click(buttons_[1]);
    EXPECT_TRUE(buttons_[1]->Down());
    EXPECT_FALSE(buttons_[0]->Down());
    EXPECT_FALSE(buttons_[2]->Down());
    EXPECT_TRUE(other_->Down());  // another group is left alone
}

TEST_F(ButtonGroupTest, DownButtonStaysDownWithoutAllowAllUp) {
    QSignalSpy clicks(buttons_[0], &TCoolButton::Clicked);
    Click(buttons_[0]);
    Click(buttons_[0]);
    EXPECT_TRUE(buttons_[0]->Down());
    EXPECT_EQ(clicks.count(), 2);
    buttons_[0]->SetDown(false);
    EXPECT_TRUE(buttons_[0]->Down());
}

TEST_F(ButtonGroupTest, AllowAllUpSpreadsThroughTheGroupAndLetsTheButtonRise) {
    Click(buttons_[0]);
    buttons_[1]->SetAllowAllUp(true);
    EXPECT_TRUE(buttons_[0]->AllowAllUp());
    EXPECT_TRUE(buttons_[2]->AllowAllUp());
    EXPECT_FALSE(other_->AllowAllUp());
    Click(buttons_[0]);
    EXPECT_FALSE(buttons_[0]->Down());
    for (TCoolButton* b : buttons_)
        EXPECT_FALSE(b->Down());
}

TEST_F(ButtonGroupTest, SettingDownInCodeRaisesTheOthers) {
    buttons_[2]->SetDown(true);
    buttons_[0]->SetDown(true);
    EXPECT_TRUE(buttons_[0]->Down());
    EXPECT_FALSE(buttons_[2]->Down());
}

TEST_F(ButtonGroupTest, LeavingTheGroupRaisesTheButton) {
    buttons_[0]->SetDown(true);
    buttons_[0]->SetGroupIndex(0);
    EXPECT_FALSE(buttons_[0]->Down());
}

TEST_F(ButtonGroupTest, DownButtonShowsHotCellOnlyWhileHot) {
    buttons_[0]->SetDown(true);
    EXPECT_EQ(buttons_[0]->PaintLook(), StateUp);
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10),
                     QPointF(buttons_[0]->mapToGlobal(QPoint(10, 10))), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(buttons_[0], &move);
    EXPECT_EQ(buttons_[0]->PaintLook(), StateHot);
}

TEST(ButtonLayout, MainWindowButtonDrawsItsCellAtOneZero) {
    const auto placement = TButtonGlyph::CalcButtonLayout(QRect(0, 0, 75, 29), QSize(73, 30),
                                                          QSize(0, 0), blGlyphLeft, -1, 4);
    EXPECT_EQ(placement.glyph, QPoint(1, 0));
}

TEST(ButtonLayout, GlyphAndCaptionPlacement) {
    const QRect client(0, 0, 100, 40);
    const QSize glyph(20, 16);
    const QSize text(30, 12);
    // Centred together: margin (100 - (20 + 4 + 30) + 1) / 2 = 23.
    auto p = TButtonGlyph::CalcButtonLayout(client, glyph, text, blGlyphLeft, -1, 4);
    EXPECT_EQ(p.glyph, QPoint(23, 0));
    EXPECT_EQ(p.text, QRect(47, 14, 30, 12));
    // Even shares: margin = spacing = (100 - 20 - 30) / 3 = 16.
    p = TButtonGlyph::CalcButtonLayout(client, glyph, text, blGlyphLeft, -1, -1);
    EXPECT_EQ(p.glyph, QPoint(16, 0));
    EXPECT_EQ(p.text.topLeft(), QPoint(52, 14));
    // Glyph right with a margin and shared spacing: spacing (100 - 5 - 20 - 30) / 2 = 22.
    p = TButtonGlyph::CalcButtonLayout(client, glyph, text, blGlyphRight, 5, -1);
    EXPECT_EQ(p.glyph, QPoint(75, 0));
    EXPECT_EQ(p.text.topLeft(), QPoint(23, 14));
    // Glyph on top: main axis vertical, text centred horizontally.
    p = TButtonGlyph::CalcButtonLayout(client, glyph, text, blGlyphTop, 2, 3);
    EXPECT_EQ(p.glyph, QPoint(0, 2));
    EXPECT_EQ(p.text.topLeft(), QPoint(35, 21));
    p = TButtonGlyph::CalcButtonLayout(client, glyph, text, blGlyphBottom, 2, 3);
    EXPECT_EQ(p.glyph, QPoint(0, 22));
    EXPECT_EQ(p.text.topLeft(), QPoint(35, 7));
    // No caption: no spacing.
    p = TButtonGlyph::CalcButtonLayout(client, glyph, QSize(0, 0), blGlyphLeft, -1, 10);
    EXPECT_EQ(p.glyph, QPoint(40, 0));
}

}  // namespace
