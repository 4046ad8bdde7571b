#include "common/thread.h"

namespace qm {

BigStackThread::BigStackThread(std::function<void()> fn) : fn_(std::move(fn)) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // The stack is only reserved; pages are used as the recursion reaches them.
  for (std::size_t size : {std::size_t{4} << 30, std::size_t{256} << 20}) {
    pthread_attr_setstacksize(&attr, size);
    if (pthread_create(&th_, &attr, body, this) == 0) {
      running_ = true;
      break;
    }
  }
  pthread_attr_destroy(&attr);
}

void* BigStackThread::body(void* self) {
  static_cast<BigStackThread*>(self)->fn_();
  return nullptr;
}

void BigStackThread::join() {
  if (!running_) return;
  pthread_join(th_, nullptr);
  running_ = false;
}

}  // namespace qm
