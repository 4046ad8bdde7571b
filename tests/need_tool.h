// Tests that look at what a real consumer (gs, povray, chromium) makes need
// that program. Without it such a test is skipped, unless QM_REQUIRE_TOOLS=1
// is set (as the project's CI does): then a missing program is a failure.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "runner.h"

namespace qmtest {

inline bool toolsRequired() {
  const char* v = std::getenv("QM_REQUIRE_TOOLS");
  return v && std::strcmp(v, "1") == 0;
}

}  // namespace qmtest

// Use at the top of a test body: QM_NEED_TOOL("gs");
#define QM_NEED_TOOL(name)                                                      \
  do {                                                                          \
    if (!::qmtest::haveProgram(name)) {                                         \
      if (::qmtest::toolsRequired()) FAIL() << "required program missing: " << (name); \
      GTEST_SKIP() << "program not installed: " << (name);                      \
    }                                                                           \
  } while (0)
