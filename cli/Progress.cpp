#include "cli/Progress.h"

#include <cstdio>
#include <unistd.h>

ProgressLine::ProgressLine(bool enabled, std::string verb, int64_t totalBytes)
    : enabled_(enabled && isatty(STDERR_FILENO) == 1), verb_(std::move(verb)), total_(totalBytes),
      start_(std::chrono::steady_clock::now()), lastDraw_(start_) {}

std::string ProgressLine::HumanBytes(double bytes) {
    static const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int u = 0;
    while (bytes >= 1024 && u < 4) {
        bytes /= 1024;
        ++u;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return buf;
}

void ProgressLine::Update(double percent) {
    if (!enabled_) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    lastPercent_ = percent;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    Draw(percent);
}

void ProgressLine::Draw(double percent) {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double done = static_cast<double>(total_) * percent / 100.0;
    const double rate = seconds > 0 ? done / seconds : 0;
    char left[32] = "--:--";
    if (rate > 0 && total_ > 0) {
        const long remain = static_cast<long>((static_cast<double>(total_) - done) / rate + 0.5);
        std::snprintf(left, sizeof left, "%02ld:%02ld", remain / 60, remain % 60);
    }
    std::fprintf(stderr, "\r%s %5.1f%%  %s / %s  %s/s  %s left\x1b[K", verb_.c_str(), percent, HumanBytes(done).c_str(),
                 HumanBytes(static_cast<double>(total_)).c_str(), HumanBytes(rate).c_str(), left);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::Finish(bool done) {
    if (!enabled_) return;
    if (done) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        std::fprintf(stderr, "\r%s done: %s in %.1f s\x1b[K\n", verb_.c_str(),
                     HumanBytes(static_cast<double>(total_)).c_str(), seconds);
    } else if (drawn_) {
        std::fprintf(stderr, "\n");
    }
    std::fflush(stderr);
}
