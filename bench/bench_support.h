// What the desktop benchmarks share: running the event loop, and the median
// and the tail of a set of measurements.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <vector>

namespace brimlet::bench {

// Runs the event loop until `done` holds; false after `timeout`.
inline bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    QTimer wake;
    wake.start(std::chrono::milliseconds(1));
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline void runEventLoopFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

// The value at quantile `q` (0.5: the median); 0 for none.
inline double percentile(std::vector<double> values, double q) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto at =
        static_cast<std::size_t>(std::lround(q * static_cast<double>(values.size() - 1)));
    return values[std::min(at, values.size() - 1)];
}

}  // namespace brimlet::bench
