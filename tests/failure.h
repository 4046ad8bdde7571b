// Runs library code the way the program's entry point does: standard output
// and error collected in memory, and a Failure turned into its message (on
// its stream) and its exit status.
#pragma once

#include <regex>
#include <string>
#include <type_traits>

#include "common/out.h"

namespace qmtest {

struct Outcome {
  std::string out;
  std::string err;
  int status = 0;  // 0, or the status of the failure
  bool operator==(const Outcome&) const = default;
};

// fn takes the run's Console (streams in memory), or nothing when it prints
// nothing.
template <typename Fn>
Outcome runCaptured(Fn&& fn) {
  Outcome r;
  qm::CaptureStd cap;
  const qm::Console& con = cap.console();
  try {
    if constexpr (std::is_invocable_v<Fn&, const qm::Console&>) {
      fn(con);
    } else {
      fn();
    }
  } catch (const qm::Failure& f) {
    (f.onStdout ? con.out : con.err).put(f.message);
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
// of the extended regular expression `re`. The statement prints through
// `con`, the Console the macro hands it.
#define EXPECT_FAILURE(statement, code, re)                                                     \
  do {                                                                                          \
    const ::qmtest::Outcome qm_outcome_ =                                                       \
        ::qmtest::runCaptured([&]([[maybe_unused]] const ::qm::Console& con) { statement; });   \
    EXPECT_EQ(qm_outcome_.status, (code)) << qm_outcome_.err;                                   \
    EXPECT_TRUE(::qmtest::containsRegex(qm_outcome_.err, (re)))                                 \
        << qm_outcome_.err << "\nwanted /" << (re) << "/";                                      \
  } while (0)
