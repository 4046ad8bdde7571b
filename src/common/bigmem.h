// Large blocks of memory straight from the kernel. A block is reserved
// address space: a page takes memory only once it is written, so a block
// may be sized for the worst case. Blocks of a few megabytes and more ask
// for transparent huge pages: filling one then costs one page fault per
// 2 MiB instead of one per 4 KiB, which is most of the cost of touching
// fresh memory on a virtual machine.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace qm {

class BigBlock {
 public:
  BigBlock() = default;
  // `bytes` of zeroed, untouched memory. Throws std::bad_alloc when the
  // address space cannot be had.
  explicit BigBlock(std::size_t bytes);
  ~BigBlock();
  BigBlock(BigBlock&& o) noexcept : p_(std::exchange(o.p_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  BigBlock& operator=(BigBlock&& o) noexcept {
    std::swap(p_, o.p_);
    std::swap(size_, o.size_);
    return *this;
  }
  void* data() const { return p_; }
  std::size_t size() const { return size_; }

 private:
  void* p_ = nullptr;
  std::size_t size_ = 0;
};

// Asks for huge pages on the whole 2 MiB pages inside [p, p + bytes) of
// memory that came from the allocator (a large vector's storage). Only
// advice: nothing happens when the range is small or the kernel says no.
void adviseHugePages(void* p, std::size_t bytes);

// Fills fresh pages on a thread of its own, ahead of the thread that will
// write them: the kernel's zeroing of new pages, most of the cost of
// filling fresh memory, then runs beside the writing instead of inside it.
// The pages are only made present, never written: what the writer puts
// there is untouched, whichever thread comes first.
class Prefaulter {
 public:
  Prefaulter();
  ~Prefaulter();  // a range being filled is finished, the queued ones dropped
  Prefaulter(const Prefaulter&) = delete;
  Prefaulter& operator=(const Prefaulter&) = delete;
  // Queues [p, p + bytes) to be made present. The range must stay mapped
  // until drain() returns or the Prefaulter is gone.
  void populate(void* p, std::size_t bytes);
  // Returns once every queued range is filled.
  void drain();

 private:
  void work();
  std::mutex m_;
  std::condition_variable wake_, idle_;
  std::deque<std::pair<void*, std::size_t>> queue_;
  bool busy_ = false;
  bool stop_ = false;
  bool unsupported_ = false;  // the kernel cannot populate ahead
  std::thread th_;
};

// Keeps a Prefaulter one huge page ahead of a writer that fills a block
// from its start to its end.
class FillAhead {
 public:
  // The writer has filled up to `fill` in the block that ends at `end`.
  void at(Prefaulter& pf, const void* fill, const void* end) {
    const auto f = reinterpret_cast<std::uintptr_t>(fill);
    if (f <= mark_ && mark_ - f >= kPage && mark_ <= reinterpret_cast<std::uintptr_t>(end)) return;
    ask(pf, f, reinterpret_cast<std::uintptr_t>(end));
  }

 private:
  static constexpr std::uintptr_t kPage = std::uintptr_t{2} << 20;
  void ask(Prefaulter& pf, std::uintptr_t fill, std::uintptr_t end);
  std::uintptr_t mark_ = 0;  // the end of what was asked for
};

}  // namespace qm
