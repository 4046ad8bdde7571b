#include "common/bigmem.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
#include <system_error>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace qm {

namespace {
constexpr std::size_t kHuge = std::size_t{2} << 20;
}

BigBlock::BigBlock(std::size_t bytes) {
  if (bytes == 0) return;
  // Rounded up to whole huge pages, and aligned on one, so that every page
  // of the block can be a huge one.
  std::size_t size = (bytes + kHuge - 1) / kHuge * kHuge;
  void* p = ::mmap(nullptr, size + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  auto a = reinterpret_cast<std::uintptr_t>(p);
  auto aligned = (a + kHuge - 1) / kHuge * kHuge;
  // Give back the slack on both sides of the aligned range.
  if (aligned > a) ::munmap(p, aligned - a);
  std::size_t tail = a + size + kHuge - (aligned + size);
  if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
  p_ = reinterpret_cast<void*>(aligned);
  size_ = size;
  adviseHugePages(p_, size_);
}

BigBlock::~BigBlock() {
  if (p_) ::munmap(p_, size_);
}

void adviseHugePages(void* p, std::size_t bytes) {
  auto a = reinterpret_cast<std::uintptr_t>(p);
  auto b = (a + kHuge - 1) / kHuge * kHuge;
  auto e = (a + bytes) / kHuge * kHuge;
  if (e > b) ::madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
}

Prefaulter::Prefaulter() {
  try {
    th_ = std::thread([this] { work(); });
  } catch (const std::system_error&) {
    unsupported_ = true;  // no thread: the writer faults its pages itself
  }
}

Prefaulter::~Prefaulter() {
  {
    std::lock_guard<std::mutex> l(m_);
    stop_ = true;
  }
  wake_.notify_one();
  if (th_.joinable()) th_.join();
}

void Prefaulter::populate(void* p, std::size_t bytes) {
  {
    std::lock_guard<std::mutex> l(m_);
    if (unsupported_ || stop_) return;
    queue_.emplace_back(p, bytes);
  }
  wake_.notify_one();
}

void Prefaulter::drain() {
  std::unique_lock<std::mutex> l(m_);
  idle_.wait(l, [this] { return queue_.empty() && !busy_; });
}

void Prefaulter::work() {
  std::unique_lock<std::mutex> l(m_);
  for (;;) {
    wake_.wait(l, [this] { return stop_ || !queue_.empty(); });
    if (stop_) break;
    auto [p, bytes] = queue_.front();
    queue_.pop_front();
    busy_ = true;
    l.unlock();
    // Not written, only faulted in as if written. A range that went away
    // meanwhile fails harmlessly; a kernel without the call stops the work.
    bool ok = ::madvise(p, bytes, MADV_POPULATE_WRITE) == 0 || errno != EINVAL;
    l.lock();
    busy_ = false;
    if (!ok) {
      unsupported_ = true;
      queue_.clear();
    }
    if (queue_.empty()) idle_.notify_all();
  }
  queue_.clear();
  busy_ = false;
  idle_.notify_all();
}

void FillAhead::ask(Prefaulter& pf, std::uintptr_t fill, std::uintptr_t end) {
  // Through the end of the huge page after the one being filled.
  std::uintptr_t from = (fill + kPage - 1) / kPage * kPage;
  if (mark_ > from && fill <= mark_ && mark_ <= end) from = mark_;
  std::uintptr_t to = std::min(end, fill / kPage * kPage + 2 * kPage);
  if (to > from) pf.populate(reinterpret_cast<void*>(from), to - from);
  mark_ = std::max(from, to);
}

}  // namespace qm
