// Helpers for the geometry tests: libraries built by hand, captured runs
// that may end in a fatal error, and a thread with a large stack.
#pragma once

#include <pthread.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/out.h"
#include "gds/model.h"
#include "failure.h"
#include "model_builder.h"

namespace geomtest {

using qm::GDSpoint;

// Libraries built by hand.
using LibBuilder = qmtest::ModelBuilder;

// What a call printed, and how it ended.
struct Captured {
  std::string out;
  std::string err;
  int status = 0;  // 0, or the status of the fatal error
  bool operator==(const Captured&) const = default;
};

// fn takes the Console to print through, or nothing.
template <typename Fn>
Captured capture(Fn&& fn) {
  qmtest::Outcome r = qmtest::runCaptured(std::forward<Fn>(fn));
  return Captured{r.out, r.err, r.status};
}

// Runs fn on a thread with a stack of `bytes`, and waits for it.
inline void onBigStack(const std::function<void()>& fn, std::size_t bytes = std::size_t{1} << 30) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  struct Arg {
    const std::function<void()>* fn;
    std::exception_ptr ex;
  } arg{&fn, nullptr};
  pthread_t th;
  auto body = [](void* p) -> void* {
    auto* a = static_cast<Arg*>(p);
    try {
      (*a->fn)();
    } catch (...) {
      a->ex = std::current_exception();
    }
    return nullptr;
  };
  if (pthread_create(&th, &attr, body, &arg) != 0) throw std::runtime_error("pthread_create");
  pthread_join(th, nullptr);
  pthread_attr_destroy(&attr);
  if (arg.ex) std::rethrow_exception(arg.ex);
}

}  // namespace geomtest
