#include "common/bigmem.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

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

}  // namespace qm
