// What every benchmark reports: wall time, rows per second and the process's peak memory.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>

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

// The kernel's count of this process's writing (/proc/self/io): bytes handed to write calls
// (copies the kernel makes with copy_file_range among them) and bytes it sent on to storage.
// Zero where the kernel keeps no such account.
struct Written {
  double callMb = 0;
  double storageMb = 0;
};

inline Written WrittenSoFar() {
  Written written;
  std::FILE* io = std::fopen("/proc/self/io", "r");
  if (io == nullptr) return written;
  char name[64];
  unsigned long long value = 0;
  while (std::fscanf(io, "%63s %llu", name, &value) == 2) {
    if (std::strcmp(name, "wchar:") == 0) written.callMb = static_cast<double>(value) / 1e6;
    if (std::strcmp(name, "write_bytes:") == 0) written.storageMb = static_cast<double>(value) / 1e6;
  }
  std::fclose(io);
  return written;
}

inline Written WrittenSince(const Written& before) {
  const Written now = WrittenSoFar();
  return {now.callMb - before.callMb, now.storageMb - before.storageMb};
}

}  // namespace quillon::bench
