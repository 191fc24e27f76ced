#include "app/tests/x11_session.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

namespace apptest {
namespace {

QString Tool(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

void Stop(QProcess* p) {
    if (p == nullptr || p->state() == QProcess::NotRunning)
        return;
    p->terminate();
    if (!p->waitForFinished(5000)) {
        p->kill();
        p->waitForFinished(5000);
    }
}

}  // namespace

QString LineReader::WaitFor(const QString& prefix, int timeout_ms) {
    QDeadlineTimer deadline(timeout_ms);
    while (true) {
        while (process_->canReadLine()) {
            const QString line = QString::fromUtf8(process_->readLine()).trimmed();
            seen_.append(line);
            if (line.startsWith(prefix))
                return line;
        }
        if (deadline.hasExpired() || process_->state() == QProcess::NotRunning)
            return QString();
        process_->waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)));
    }
}

QString X11Session::MissingTools() {
    QStringList missing;
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "import"}) {
        if (Tool(tool).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    return missing.join(QLatin1Char(' '));
}

X11Session::X11Session() {
    runtime_dir_ = QDir::temp().filePath(
        QStringLiteral("lensmere-x11-%1").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(runtime_dir_);
    QFile::setPermissions(runtime_dir_,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

X11Session::~X11Session() {
    Stop(program_.get());
    Stop(wm_.get());
    Stop(xvfb_.get());
    QDir(runtime_dir_).removeRecursively();
}

bool X11Session::Start(int timeout_ms) {
    xvfb_ = std::make_unique<QProcess>();
    xvfb_->start(Tool("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-wr"),
                  QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    if (!xvfb_->waitForStarted(timeout_ms)) {
        error_ = QStringLiteral("Xvfb did not start");
        return false;
    }
    LineReader reader(xvfb_.get());
    const QString number = reader.WaitFor(QString(), timeout_ms);
    if (number.isEmpty()) {
        error_ = QStringLiteral("Xvfb reported no display");
        return false;
    }
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + number);
    env_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_dir_);

    wm_ = std::make_unique<QProcess>();
    wm_->setProcessEnvironment(env_);
    wm_->start(Tool("openbox"), {QStringLiteral("--sm-disable")});
    if (!wm_->waitForStarted(timeout_ms)) {
        error_ = QStringLiteral("openbox did not start");
        return false;
    }
    // The window manager is up once it publishes its desktops.
    QDeadlineTimer deadline(timeout_ms);
    while (!Xdotool(QStringLiteral("get_num_desktops"))) {
        if (deadline.hasExpired() || wm_->state() != QProcess::Running) {
            error_ = QStringLiteral("openbox did not come up: ") +
                     QString::fromLocal8Bit(wm_->readAllStandardError());
            return false;
        }
        QThread::msleep(100);  // poll interval
    }
    return true;
}

bool X11Session::Launch(const QString& program, const QStringList& args, const QString& workdir) {
    program_ = std::make_unique<QProcess>();
    program_->setProcessEnvironment(env_);
    program_->setWorkingDirectory(workdir);
    program_->start(program, args);
    lines_ = std::make_unique<LineReader>(program_.get());
    return program_->waitForStarted(30000);
}

bool X11Session::Run(const QString& tool, const QStringList& args, int timeout_ms) {
    QProcess process;
    process.setProcessEnvironment(env_);
    process.start(tool, args);
    if (!process.waitForFinished(timeout_ms))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool X11Session::WaitForWindow(const QString& name, int timeout_ms) {
    return Run(Tool("xdotool"),
               {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                QStringLiteral("--name"), QStringLiteral("^") + name + QStringLiteral("$")},
               timeout_ms);
}

bool X11Session::Xdotool(const QString& commands) {
    return Run(Tool("xdotool"), commands.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

QImage X11Session::Screenshot(const QString& keep_as) {
    const QString path = QDir(runtime_dir_).filePath(QStringLiteral("shot.png"));
    if (!Run(Tool("import"), {QStringLiteral("-window"), QStringLiteral("root"), path}))
        return QImage();
    QImage shot(path);
    if (!keep_as.isEmpty())
        shot.save(QDir::current().filePath(keep_as));
    return shot;
}

}  // namespace apptest
