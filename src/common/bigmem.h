// Large blocks of memory straight from the kernel. A block is reserved
// address space: a page takes memory only once it is written, so a block
// may be sized for the worst case. Blocks of a few megabytes and more ask
// for transparent huge pages: filling one then costs one page fault per
// 2 MiB instead of one per 4 KiB, which is most of the cost of touching
// fresh memory on a virtual machine.
#pragma once

#include <cstddef>
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

}  // namespace qm
