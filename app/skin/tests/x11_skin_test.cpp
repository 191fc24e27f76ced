// The skin on a real X display: shape, click-through outside the shape and window moves. Each
// test starts its own Xvfb (which picks a free display number itself) and a program with the
// skin and the six buttons: the skin preview, and the real program with its main window (no
// camera, in a scratch start-up directory). Tests skip when Xvfb, xdotool, openbox or
// ImageMagick's import are not installed.

#include <QDeadlineTimer>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "app/tests/x11_session.h"

#include <memory>

namespace {

// Generous: the machine may be busy compiling, and sanitizer builds start slowly.
constexpr int kTimeoutMs = 40000;
const QPoint kWindowOrigin(198, 112);

QString Tool(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

using apptest::LineReader;

struct Program {
    const char* name;
    const char* path;
};
const Program kPrograms[] = {{"SkinPreview", SKIN_PREVIEW_PATH},
                             {"MainWindow", LENSMERE_PROBE_PATH}};

class X11SkinTest : public ::testing::TestWithParam<Program> {
  protected:
    void SetUp() override {
        if (Tool("Xvfb").isEmpty() || Tool("xdotool").isEmpty() || Tool("import").isEmpty())
            GTEST_SKIP() << "Xvfb, xdotool or ImageMagick import not installed";
        ASSERT_TRUE(scratch_.isValid());
        xvfb_ = std::make_unique<QProcess>();
        xvfb_->setProcessChannelMode(QProcess::SeparateChannels);
        xvfb_->start(Tool("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-wr"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        ASSERT_TRUE(xvfb_->waitForStarted(kTimeoutMs));
        LineReader reader(xvfb_.get());
        const QString number = reader.WaitFor(QString(), kTimeoutMs);
        ASSERT_FALSE(number.isEmpty()) << "Xvfb reported no display";
        display_ = QStringLiteral(":") + number;
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("DISPLAY"), display_);
        env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), scratch_.path());
    }

    void TearDown() override {
        for (QProcess* p : {app_.get(), wm_.get(), xvfb_.get()}) {
            if (p != nullptr && p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(5000)) {
                    p->kill();
                    p->waitForFinished(5000);
                }
            }
        }
    }

    void StartPreview() {
        app_ = std::make_unique<QProcess>();
        app_->setProcessEnvironment(env_);
        app_->setProcessChannelMode(QProcess::SeparateChannels);
        app_->setWorkingDirectory(scratch_.path());
        app_->start(QString::fromLatin1(GetParam().path), {});
        ASSERT_TRUE(app_->waitForStarted(kTimeoutMs));
        app_lines_ = std::make_unique<LineReader>(app_.get());
        const QString ready = app_lines_->WaitFor(QStringLiteral("ready"), kTimeoutMs);
        ASSERT_FALSE(ready.isEmpty()) << app_->readAllStandardError().toStdString();
        const QStringList parts = ready.split(QLatin1Char(' '));
        ASSERT_EQ(parts.size(), 3);
        origin_ = QPoint(parts[1].toInt(), parts[2].toInt());
    }

    // Runs a tool on the test's display; true when it exits with 0.
    bool Run(const QString& program, const QStringList& args) {
        QProcess process;
        process.setProcessEnvironment(env_);
        process.start(program, args);
        if (!process.waitForFinished(kTimeoutMs))
            return false;
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    bool Xdotool(const QString& commands) {
        return Run(Tool("xdotool"), commands.split(QLatin1Char(' '), Qt::SkipEmptyParts));
    }

    QImage Screenshot(const QString& name) {
        const QString path = scratch_.filePath(name);
        if (!Run(Tool("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}))
            return QImage();
        QImage shot(path);
        // Kept next to the test binary for looking at.
        shot.save(QDir::current().filePath(QString::fromLatin1(GetParam().name) + name));
        return shot;
    }

    QString At(QPoint window_point) const {
        const QPoint p = origin_ + window_point;
        return QStringLiteral("%1 %2").arg(p.x()).arg(p.y());
    }

    QTemporaryDir scratch_;
    std::unique_ptr<QProcess> xvfb_;
    std::unique_ptr<QProcess> wm_;
    std::unique_ptr<QProcess> app_;
    std::unique_ptr<LineReader> app_lines_;
    QProcessEnvironment env_;
    QString display_;
    QPoint origin_;
};

TEST_P(X11SkinTest, ScreenshotShowsTheShapeTheSkinAndTheButtons) {
    StartPreview();
    // Paint reaches the screen shortly after mapping: wait until the skin shows.
    const QImage skin(QStringLiteral(SKIN_RESOURCE_DIR "/skin.bmp"));
    const QImage exit_strip(QStringLiteral(SKIN_RESOURCE_DIR "/glyph_exit.bmp"));
    ASSERT_FALSE(skin.isNull());
    QImage shot;
    QDeadlineTimer deadline(kTimeoutMs);
    do {
        shot = Screenshot(QStringLiteral("_x11_screenshot.png"));
        ASSERT_FALSE(shot.isNull());
        if (shot.pixel(origin_ + QPoint(20, 200)) != skin.pixel(20, 200))
            QThread::msleep(100);  // poll interval
    } while (shot.pixel(origin_ + QPoint(20, 200)) != skin.pixel(20, 200) &&
             !deadline.hasExpired());
    ASSERT_EQ(origin_, kWindowOrigin);

    const QRgb white = qRgb(255, 255, 255);
    // Outside the shape the white root window shows: the four corners and the last row.
    EXPECT_EQ(shot.pixel(origin_ + QPoint(0, 0)), white);
    EXPECT_EQ(shot.pixel(origin_ + QPoint(578, 0)), white);
    EXPECT_EQ(shot.pixel(origin_ + QPoint(0, 363)), white);
    EXPECT_EQ(shot.pixel(origin_ + QPoint(578, 363)), white);
    EXPECT_EQ(shot.pixel(origin_ + QPoint(6, 20)), white);
    EXPECT_EQ(shot.pixel(origin_ + QPoint(300, 360)), white);
    // Inside, the skin pixel for pixel, including its edge.
    for (const QPoint p : {QPoint(20, 200), QPoint(6, 200), QPoint(7, 20), QPoint(573, 345),
                           QPoint(300, 359), QPoint(450, 60)})
        EXPECT_EQ(shot.pixel(origin_ + p), skin.pixel(p)) << p.x() << "," << p.y();
    // The exit button (480, 300) shows cell 0 of its strip at (1, 0).
    EXPECT_EQ(shot.pixel(origin_ + QPoint(480 + 1 + 36, 300 + 14)), exit_strip.pixel(36, 14));
    // Its transparent corner shows the skin.
    EXPECT_EQ(shot.pixel(origin_ + QPoint(480, 300)), skin.pixel(480, 300));
}

TEST_P(X11SkinTest, ClickOutsideTheShapeDoesNotReachTheWindow) {
    StartPreview();
    ASSERT_TRUE(Xdotool(QStringLiteral("mousemove %1 click 1").arg(At(QPoint(0, 0)))));
    ASSERT_TRUE(Xdotool(QStringLiteral("mousemove %1 click 1").arg(At(QPoint(3, 200)))));
    // A click on the photo list lands; anything before it would have been reported first.
    ASSERT_TRUE(Xdotool(QStringLiteral("mousemove %1 click 1").arg(At(QPoint(400, 150)))));
    const QString press = app_lines_->WaitFor(QStringLiteral("press"), kTimeoutMs);
    EXPECT_EQ(press, QStringLiteral("press 400 150"))
        << app_lines_->Seen().join(QLatin1Char('|')).toStdString();
}

TEST_P(X11SkinTest, ButtonClickReachesTheButton) {
    StartPreview();
    ASSERT_TRUE(Xdotool(QStringLiteral("mousemove %1 click 1").arg(At(QPoint(420, 245)))));
    EXPECT_EQ(app_lines_->WaitFor(QStringLiteral("click"), kTimeoutMs),
              QStringLiteral("click PrintButton"));
    EXPECT_EQ(app_->state(), QProcess::Running);
}

TEST_P(X11SkinTest, DragOnTheSkinMovesTheWindowWithoutWindowManager) {
    StartPreview();
    ASSERT_TRUE(Xdotool(QStringLiteral("mousemove %1 mousedown 1 mousemove_relative 20 10 "
                                       "mousemove_relative 20 20 mouseup 1")
                            .arg(At(QPoint(300, 30)))));
    EXPECT_EQ(app_lines_->WaitFor(QStringLiteral("drag"), kTimeoutMs),
              QStringLiteral("drag follow"));
    const QString expected =
        QStringLiteral("move %1 %2").arg(origin_.x() + 40).arg(origin_.y() + 30);
    EXPECT_EQ(app_lines_->WaitFor(expected, kTimeoutMs), expected)
        << app_lines_->Seen().join(QLatin1Char('|')).toStdString();
}

TEST_P(X11SkinTest, DragOnTheSkinMovesTheWindowThroughTheWindowManager) {
    if (Tool("openbox").isEmpty())
        GTEST_SKIP() << "openbox not installed";
    wm_ = std::make_unique<QProcess>();
    wm_->setProcessEnvironment(env_);
    wm_->start(Tool("openbox"), {QStringLiteral("--sm-disable")});
    ASSERT_TRUE(wm_->waitForStarted(kTimeoutMs));
    // The window manager is up once it publishes its desktops.
    QDeadlineTimer deadline(kTimeoutMs);
    while (!Xdotool(QStringLiteral("get_num_desktops"))) {
        ASSERT_FALSE(deadline.hasExpired())
            << "openbox did not start: " << wm_->readAllStandardError().toStdString();
        ASSERT_EQ(wm_->state(), QProcess::Running);
        QThread::msleep(100);  // poll interval
    }
    StartPreview();
    ASSERT_TRUE(Xdotool(QStringLiteral("mousemove %1 mousedown 1").arg(At(QPoint(300, 30)))));
    ASSERT_EQ(app_lines_->WaitFor(QStringLiteral("drag"), kTimeoutMs),
              QStringLiteral("drag system"));
    // The window manager takes over the pointer after the request: the moves are paced so that
    // it sees at least the last of them.
    ASSERT_TRUE(
        Xdotool(QStringLiteral("sleep 0.3 mousemove_relative 20 15 sleep 0.3 "
                               "mousemove_relative 20 15 sleep 0.3 mouseup 1")));
    const QString expected =
        QStringLiteral("move %1 %2").arg(origin_.x() + 40).arg(origin_.y() + 30);
    EXPECT_EQ(app_lines_->WaitFor(expected, kTimeoutMs), expected)
        << app_lines_->Seen().join(QLatin1Char('|')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Programs, X11SkinTest, ::testing::ValuesIn(kPrograms),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
