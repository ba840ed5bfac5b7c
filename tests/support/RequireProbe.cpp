// A test program whose one test needs a tool that is never there, for RequireTest to run.
#include "tests/support/Require.h"

TEST(Probe, NeedsAMissingTool) {
  QUILLON_REQUIRE_TOOL(false) << "the tool is not installed";
  FAIL() << "ran past a missing tool";
}
