// A thread with a stack large enough for the deepest hierarchy a library
// can hold (the walks recurse once per level of nesting).
#pragma once

#include <pthread.h>

#include <cstddef>
#include <functional>

namespace qm {

class BigStackThread {
 public:
  // Runs fn on a new thread (started() tells whether one could be made).
  // fn must not throw.
  explicit BigStackThread(std::function<void()> fn);
  bool started() const { return running_; }
  ~BigStackThread() { join(); }
  BigStackThread(const BigStackThread&) = delete;
  BigStackThread& operator=(const BigStackThread&) = delete;
  void join();

 private:
  static void* body(void* self);
  std::function<void()> fn_;
  pthread_t th_{};
  bool running_ = false;
};

}  // namespace qm
