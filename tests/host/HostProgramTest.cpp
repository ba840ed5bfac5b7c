// quillon-host as a user runs it: its arguments, and a clear line for everything that stops it.
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

namespace quillon::host {
namespace {

struct Outcome {
  int status;
  std::string output;
};

// Runs the host with `arguments` in a shell, with `environment` assignments before it.
Outcome RunHost(const std::string& environment, const std::string& arguments) {
  const auto result =
      testing::RunCommand("env " + environment + " " + QUILLON_HOST_PROGRAM + " " + arguments + " 2>&1");
  return {result.status, result.output};
}

class HostProgram : public ::testing::Test {
 protected:
  // Offscreen, with the demo database in a private data folder.
  std::string Environment() const { return "QT_QPA_PLATFORM=offscreen XDG_DATA_HOME=" + m_data.Path().string(); }
  testing::TempDir m_data;
};

TEST_F(HostProgram, SigtermAndSighupCloseTheDialogAsItsCloseBoxDoes) {
  const auto errors = m_data / "errors.txt";
  for (const char* signal : {"TERM", "HUP"}) {
    // The signal comes while the dialog is up (or still on its way: it is closed once shown).
    const auto result = testing::RunCommand(
        "env " + Environment() + " " + QUILLON_HOST_PROGRAM + " --plugin " + QUILLON_PLUGIN_LIBRARY + " >/dev/null 2>" +
        errors.string() + " & pid=$!; sleep 2; kill -" + signal + " $pid; wait $pid; echo \"status=$?\"");
    EXPECT_EQ(result.output, "status=1\n") << signal;
    // The plug-in's path is the host's option, not one Qt takes for a plug-in of its own.
    std::ifstream in(errors);
    const std::string said(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(said.find("No such plugin"), std::string::npos) << said;
  }
}

TEST_F(HostProgram, HelpAndBadArguments) {
  const Outcome help = RunHost(Environment(), "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("--connect"), std::string::npos);
  const Outcome bad = RunHost(Environment(), "--frobnicate");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.output.find("unexpected argument '--frobnicate'"), std::string::npos);
}

TEST_F(HostProgram, WithoutADisplayItSaysSoInOneLine) {
  const Outcome outcome = RunHost("-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "");
  EXPECT_EQ(outcome.status, 3);
  EXPECT_NE(outcome.output.find("no display"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("xvfb-run"), std::string::npos);
  EXPECT_EQ(outcome.output.find('\n'), outcome.output.size() - 1) << "more than one line: " << outcome.output;
}

TEST_F(HostProgram, AConnectionThatCannotBeOpenedIsOneClearLine) {
  const Outcome outcome = RunHost(Environment(), "--connect 'DRIVER={No Such Driver};Database=/x'");
  EXPECT_EQ(outcome.status, 3);
  EXPECT_NE(outcome.output.find("quillon-host: cannot open the database:"), std::string::npos) << outcome.output;
  EXPECT_NE(outcome.output.find("No Such Driver"), std::string::npos);
}

TEST_F(HostProgram, APlugInThatCannotBeLoadedIsOneClearLine) {
  const Outcome missing = RunHost(Environment(), "--plugin /nonexistent/libquillon.so");
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.output.find("cannot load the plug-in /nonexistent/libquillon.so"), std::string::npos)
      << missing.output;
  // A real shared library that is not a plug-in.
  const Outcome foreign = RunHost(Environment(), std::string("--plugin ") + QUILLON_FOREIGN_LIBRARY);
  EXPECT_EQ(foreign.status, 3);
  EXPECT_NE(foreign.output.find("is not a Quillon plug-in"), std::string::npos) << foreign.output;
  // The demo database was made on the way.
  EXPECT_TRUE(std::filesystem::exists(m_data / "quillon" / "demo.db"));
}

}  // namespace
}  // namespace quillon::host
