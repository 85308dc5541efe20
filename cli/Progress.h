#pragma once
// One progress line on standard error, redrawn at most ten times a second:
// percentage, bytes done and total, throughput and time left; a final line
// with the total time. Silent when standard error is not a terminal.
#include <chrono>
#include <cstdint>
#include <string>

class ProgressLine {
public:
    ProgressLine(bool enabled, std::string verb, int64_t totalBytes);
    // percent 0..100 of the whole operation.
    void Update(double percent);
    // Ends the line: the final summary (when done) or just a line break.
    void Finish(bool done);

    static std::string HumanBytes(double bytes);

private:
    void Draw(double percent);
    bool enabled_;
    std::string verb_;
    int64_t total_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
    bool drawn_ = false;
    double lastPercent_ = 0;
};
