// Running a program the way a user's shell would, for tests of whole programs and of files read
// back by other programs' tools.
#pragma once

#include <string>
#include <vector>

namespace quillon::testing {

struct CommandResult {
  int status = -1;  // the exit status; -1 when the command did not exit normally
  std::string output;
  std::vector<std::string> Lines() const;
};

// Runs `command` through /bin/sh and captures its standard output (add " 2>&1" for errors too).
CommandResult RunCommand(const std::string& command);

// The command's standard output as lines; `status`, when given, gets its exit status.
inline std::vector<std::string> OutputLines(const std::string& command, int* status = nullptr) {
  const CommandResult result = RunCommand(command);
  if (status != nullptr) *status = result.status;
  return result.Lines();
}

// `text` as one shell word.
std::string ShellQuote(const std::string& text);

}  // namespace quillon::testing
