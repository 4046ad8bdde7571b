// Runs library code the way the program's entry point does: standard output
// and error collected in memory, and a Failure turned into its message (on
// its stream) and its exit status.
#pragma once

#include <functional>
#include <regex>
#include <string>

#include "common/out.h"

namespace qmtest {

struct Outcome {
  std::string out;
  std::string err;
  int status = 0;  // 0, or the status of the failure
  bool operator==(const Outcome&) const = default;
};

inline Outcome runCaptured(const std::function<void()>& fn) {
  Outcome r;
  qm::CaptureStd cap;
  try {
    fn();
  } catch (const qm::Failure& f) {
    (f.onStdout ? qm::out() : qm::err()).put(f.message);
    r.status = f.status;
  }
  r.out = cap.out();
  r.err = cap.err();
  return r;
}

// Whether `text` holds a match of the extended regular expression `re`.
inline bool containsRegex(const std::string& text, const std::string& re) {
  return std::regex_search(text, std::regex(re, std::regex::extended));
}

}  // namespace qmtest

// The statement must end in a failure with exit status `code`, and what it
// left on standard error, the failure's message included, must hold a match
// of the extended regular expression `re`.
#define EXPECT_FAILURE(statement, code, re)                                                     \
  do {                                                                                          \
    const ::qmtest::Outcome qm_outcome_ = ::qmtest::runCaptured([&] { statement; });            \
    EXPECT_EQ(qm_outcome_.status, (code)) << qm_outcome_.err;                                   \
    EXPECT_TRUE(::qmtest::containsRegex(qm_outcome_.err, (re)))                                 \
        << qm_outcome_.err << "\nwanted /" << (re) << "/";                                      \
  } while (0)
