// What every benchmark reports: wall time, rows per second and the process's peak memory.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

namespace quillon::bench {

class Stopwatch {
 public:
  double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count(); }

 private:
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

inline double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

inline void Report(const char* what, long rows, double seconds) {
  std::printf("%-40s %9ld rows  %7.2f s  %10.0f rows/s  peak %6.1f MB\n", what, rows, seconds,
              static_cast<double>(rows) / seconds, PeakMegabytes());
}

}  // namespace quillon::bench
