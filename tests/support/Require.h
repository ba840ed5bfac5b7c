// A test that cannot run because a reader or a tool is not installed: skipped on a developer's
// machine, but failed when CI=true, where a missing tool would otherwise pass unnoticed.
#pragma once

#include <gtest/gtest.h>

namespace quillon::testing {

// True when the environment says this is a continuous-integration run (CI=true or CI=1).
bool MissingToolFails();

inline ::testing::TestPartResult::Type MissingToolResult() {
  return MissingToolFails() ? ::testing::TestPartResult::kFatalFailure : ::testing::TestPartResult::kSkip;
}

}  // namespace quillon::testing

// Use as a statement in a test body or SetUp, with an optional message:
//   QUILLON_REQUIRE_TOOL(HaveMdbReader()) << "mdb-reader is not installed";
// Returns from the function unless `available` holds.
#define QUILLON_REQUIRE_TOOL(available)                                                  \
  GTEST_AMBIGUOUS_ELSE_BLOCKER_                                                          \
  if (available) {                                                                       \
  } else                                                                                 \
    return GTEST_MESSAGE_("Needed and missing: " #available " (a failure when CI=true)", \
                          ::quillon::testing::MissingToolResult())
