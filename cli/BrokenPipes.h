// For the command-line tools: signals that the kernel sends for a write it refuses are ignored,
// so that the write fails and each tool answers it in its own way instead of dying silently.
// A reader of standard output that goes away (`| head`) is SIGPIPE; a file size limit
// (`ulimit -f`) is SIGXFSZ, after which the write fails with EFBIG and is reported as a full
// disk is.
#pragma once

#include <signal.h>

namespace quillon::cli {

inline void IgnoreSignal(int signal) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(signal, &ignore, nullptr);
}

inline void IgnoreBrokenPipes() { IgnoreSignal(SIGPIPE); }

inline void IgnoreFileSizeLimit() { IgnoreSignal(SIGXFSZ); }

}  // namespace quillon::cli
