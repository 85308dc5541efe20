#pragma once
// What the benchmark drivers share.
#include <fstream>
#include <string>

// Peak resident set size in KiB, from the kernel's own account.
inline long PeakRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}
