// terminal.cpp - the progress bar's drawing.
#include "terminal.h"

#include <cstdio>

namespace kestcam::cli {

void ProgressBar::Update(int done) {
    if (!enabled_ || total_ <= 0) return;
    constexpr int kWidth = 40;
    const int filled = static_cast<int>(static_cast<long long>(done) * kWidth / total_);
    char bar[kWidth + 1];
    for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kWidth] = '\0';
    std::fprintf(stderr, "\r[%s] %d/%d", bar, done, total_);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (drawn_) std::fprintf(stderr, "\n");
    drawn_ = false;
}

} // namespace kestcam::cli
