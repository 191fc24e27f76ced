// The progress bar the host draws for the library's long operations. The
// library calls two plain functions without a context argument, so the bar is
// one process-wide object. It draws on stderr only when stderr is a terminal.
#pragma once

#include <cstdio>
#include <string>

namespace cli {

// One line of the bar, e.g. "reading photo 2  [#######.............]  35%".
// Steps beyond the announced count (some cards report more steps than they
// announce) keep the bar full rather than overflowing it.
std::string RenderProgressLine(const std::string& label, long done, long total, int bar_width);

class ProgressBar {
  public:
    // The bar that the library's callbacks drive.
    static ProgressBar& Instance();

    // Draw on `out` (nothing at all when `out` is null).
    void SetOutput(std::FILE* out) { out_ = out; }
    // Names the operation that the next Begin() belongs to.
    void SetLabel(std::string label) { label_ = std::move(label); }
    // Ends the current line, if one was drawn.
    void Finish();

    void Begin(long steps);
    void Step();

    long done() const { return done_; }
    long total() const { return total_; }

    // Plain functions to hand to SetProcessFunc.
    static void StepCallback();
    static void BeginCallback(int steps);

  private:
    void Draw(bool force);

    std::FILE* out_ = nullptr;
    std::string label_;
    long done_ = 0;
    long total_ = 0;
    int last_percent_ = -1;
    bool line_open_ = false;
};

}  // namespace cli
