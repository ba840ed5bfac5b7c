// `make run`: it builds what it runs and nothing more, and closing the dialog ends it well.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::host {
namespace {

using testing::RunCommand;
using testing::ShellQuote;

TEST(MakeRun, BuildsTheHostAndThePlugInOnly) {
  // make's dry run lists the commands without running them.
  const auto dryRun = RunCommand("make -n -C " + ShellQuote(QUILLON_SOURCE_DIR) +
                                 " run BUILD_DIR=" + ShellQuote(QUILLON_BUILD_DIR) + " 2>&1");
  ASSERT_EQ(dryRun.status, 0) << dryRun.output;
  int builds = 0;
  for (const std::string& line : dryRun.Lines()) {
    if (line.rfind("cmake --build ", 0) != 0) continue;
    ++builds;
    EXPECT_NE(line.find("--target quillon-host"), std::string::npos) << line;
  }
  EXPECT_EQ(builds, 1) << dryRun.output;
}

// The script behind `make run` on the build folder `build`, with `environment` before it.
testing::CommandResult RunHostScript(const std::string& environment, const std::filesystem::path& build,
                                     const std::string& arguments) {
  return RunCommand("env QT_QPA_PLATFORM=offscreen " + environment + " " +
                    ShellQuote(std::string(QUILLON_SOURCE_DIR) + "/scripts/run-host.sh") + " " +
                    ShellQuote(build.string()) + " " + arguments + " 2>&1");
}

TEST(MakeRun, ClosingTheDialogIsSuccessAndAFailureToStartIsNot) {
  // The real host: a database it cannot open keeps its failure status.
  testing::TempDir data;
  const auto failed = RunHostScript("XDG_DATA_HOME=" + ShellQuote(data.Path().string()), QUILLON_BUILD_DIR,
                                    "--connect 'DRIVER={No Such Driver};Database=/x'");
  EXPECT_EQ(failed.status, 3) << failed.output;
  EXPECT_NE(failed.output.find("cannot open the database"), std::string::npos) << failed.output;

  // A dialog closed without OK is the host's status 1. A test cannot close the real dialog, so a
  // stand-in host answers with each status.
  testing::TempDir build;
  std::filesystem::create_directories(build / "bin");
  const auto host = build / "bin" / "quillon-host";
  std::ofstream(host) << "#!/bin/sh\necho \"host ran with $*\"\nexit \"$HOST_STATUS\"\n";
  std::filesystem::permissions(host, std::filesystem::perms::owner_all);
  const auto closed = RunHostScript("HOST_STATUS=1", build.Path(), "--connect 'DSN=x'");
  EXPECT_EQ(closed.status, 0) << closed.output;
  EXPECT_EQ(closed.output, "host ran with --connect DSN=x\n");
  EXPECT_EQ(RunHostScript("HOST_STATUS=0", build.Path(), "").status, 0);
  EXPECT_EQ(RunHostScript("HOST_STATUS=3", build.Path(), "").status, 3);
  EXPECT_EQ(RunHostScript("HOST_STATUS=134", build.Path(), "").status, 134);
}

}  // namespace
}  // namespace quillon::host
