#include "tools/cli/progress.h"

#include <algorithm>

namespace cli {

std::string RenderProgressLine(const std::string& label, long done, long total, int bar_width) {
    const long clamped = total > 0 ? std::clamp(done, 0L, total) : 0;
    const int percent = total > 0 ? static_cast<int>(clamped * 100 / total) : 0;
    const int filled = total > 0 ? static_cast<int>(clamped * bar_width / total) : 0;
    std::string line = label;
    line += "  [";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(bar_width - filled), '.');
    line += "] ";
    const std::string pct = std::to_string(percent) + "%";
    line.append(pct.size() < 4 ? 4 - pct.size() : 0, ' ');
    line += pct;
    return line;
}

ProgressBar& ProgressBar::Instance() {
    static ProgressBar bar;
    return bar;
}

void ProgressBar::Begin(long steps) {
    total_ = steps;
    done_ = 0;
    last_percent_ = -1;
    Draw(true);
}

void ProgressBar::Step() {
    ++done_;
    Draw(false);
}

void ProgressBar::Draw(bool force) {
    if (!out_)
        return;
    const long clamped = total_ > 0 ? std::clamp(done_, 0L, total_) : 0;
    const int percent = total_ > 0 ? static_cast<int>(clamped * 100 / total_) : 0;
    // Redraw only when the figure changes: a backup makes thousands of steps.
    if (!force && percent == last_percent_)
        return;
    last_percent_ = percent;
    std::fprintf(out_, "\r%s", RenderProgressLine(label_, done_, total_, 30).c_str());
    std::fflush(out_);
    line_open_ = true;
}

void ProgressBar::Finish() {
    if (out_ && line_open_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    line_open_ = false;
    total_ = 0;
    done_ = 0;
    last_percent_ = -1;
}

void ProgressBar::StepCallback() {
    Instance().Step();
}
void ProgressBar::BeginCallback(int steps) {
    Instance().Begin(steps);
}

}  // namespace cli
