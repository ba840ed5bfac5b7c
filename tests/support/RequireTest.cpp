// A missing tool skips a test on a developer's machine and fails it under CI=true, seen from
// outside a real test program as CTest and CI see it: its exit status and its report.
#include <string>

#include <gtest/gtest.h>

#include "tests/support/Command.h"

namespace quillon::testing {
namespace {

CommandResult RunProbe(const std::string& environment) {
  return RunCommand("env -u CI " + environment + " " + ShellQuote(QUILLON_REQUIRE_PROBE) + " 2>&1");
}

// The probe's report for a failure message, without the marker by which CTest would take this
// test itself for skipped.
std::string Shown(std::string report) {
  for (std::size_t at; (at = report.find("SKIPPED")) != std::string::npos;) report.replace(at, 7, "skipped");
  return report;
}

TEST(RequireTool, SkipsWithoutCiAndFailsUnderCi) {
  const CommandResult local = RunProbe("");
  EXPECT_EQ(local.status, 0) << Shown(local.output);
  EXPECT_NE(local.output.find("[  SKIPPED ] Probe.NeedsAMissingTool"), std::string::npos) << Shown(local.output);
  EXPECT_NE(local.output.find("the tool is not installed"), std::string::npos) << Shown(local.output);
  EXPECT_EQ(local.output.find("ran past"), std::string::npos) << Shown(local.output);

  for (const char* ci : {"CI=true", "CI=1"}) {
    const CommandResult underCi = RunProbe(ci);
    EXPECT_EQ(underCi.status, 1) << ci << "\n" << Shown(underCi.output);
    EXPECT_NE(underCi.output.find("[  FAILED  ] Probe.NeedsAMissingTool"), std::string::npos) << Shown(underCi.output);
    EXPECT_EQ(underCi.output.find("ran past"), std::string::npos) << Shown(underCi.output);
  }
  EXPECT_EQ(RunProbe("CI=false").status, 0);
}

}  // namespace
}  // namespace quillon::testing
