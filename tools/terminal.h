// terminal.h - a progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

namespace kestcam::cli {

bool StderrIsTerminal();

class ProgressBar {
public:
    explicit ProgressBar(int total) : total_(total), enabled_(StderrIsTerminal()) {}
    void Update(int done);
    void Finish();

private:
    int total_;
    bool enabled_;
    bool drawn_ = false;
};

} // namespace kestcam::cli
