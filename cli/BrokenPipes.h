// For the command-line tools: a reader of standard output that goes away (`| head`) shows as a
// write that fails, which each tool answers in its own way, not as a SIGPIPE that ends the process.
#pragma once

#include <signal.h>

namespace quillon::cli {

inline void IgnoreBrokenPipes() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace quillon::cli
