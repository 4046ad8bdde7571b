#include "gds/model.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "common/out.h"

namespace qm {

// Blocks of a huge page and more come from the kernel untouched: no
// zeroing pass, and huge pages where the kernel has them.
GDSpoint* PointArena::block(std::size_t n) {
  if (n * sizeof(GDSpoint) >= (std::size_t{2} << 20)) {
    blocks_.emplace_back(n * sizeof(GDSpoint));
    return static_cast<GDSpoint*>(blocks_.back().data());
  }
  chunks_.push_back(std::make_unique<GDSpoint[]>(n));
  return chunks_.back().get();
}

GDSpoint* PointArena::alloc(std::size_t n) {
  if (n == 0) return nullptr;
  if (n <= cap_ - used_) {
    GDSpoint* p = cur_ + used_;
    used_ += n;
    if (pf_) ahead_.at(*pf_, cur_ + used_, cur_ + cap_);
    return p;
  }
  // A large list gets a block of its own; the current chunk stays the one
  // being filled.
  if (n > kChunk / 4) return block(n);
  // Small libraries stay small: the chunks grow from kFirstChunk points.
  std::size_t size = cap_ == 0 ? kFirstChunk : std::min(kChunk, cap_ * 2);
  while (size < n) size *= 2;
  cur_ = block(size);
  cap_ = size;
  used_ = n;
  return cur_;
}

void PointArena::reserve(std::size_t n) {
  if (n <= cap_ - used_) return;
  // Only a head start: where the address space cannot be had (a strict
  // overcommit policy, a huge input), the chunks grow as they always do.
  try {
    cur_ = block(n);
  } catch (const std::bad_alloc&) {
    return;
  }
  cap_ = n;
  used_ = 0;
}

void* ElementStore::do_allocate(std::size_t bytes, std::size_t align) {
  if (bytes >= kLarge) {
    BigBlock b(bytes);
    void* p = b.data();
    large_.emplace(p, std::move(b));
    return p;
  }
  auto misalign = reinterpret_cast<std::uintptr_t>(cur_) & (align - 1);
  std::size_t skip = misalign ? align - misalign : 0;
  if (cur_ == nullptr || left_ < skip + bytes) {
    // Chunks double from a small one, so that a small library stays small;
    // from a huge page on they come from the kernel.
    std::size_t size = std::min(kChunk, kFirstChunk << std::min<std::size_t>(small_.size() + chunks_.size(), 16));
    while (size < bytes + align) size *= 2;
    if (size < (std::size_t{2} << 20)) {
      small_.push_back(std::make_unique<std::max_align_t[]>(size / sizeof(std::max_align_t)));
      cur_ = reinterpret_cast<char*>(small_.back().get());
    } else {
      chunks_.emplace_back(size);
      cur_ = static_cast<char*>(chunks_.back().data());
    }
    left_ = size;
    chunkStart_ = cur_;
    misalign = reinterpret_cast<std::uintptr_t>(cur_) & (align - 1);
    skip = misalign ? align - misalign : 0;
    if (left_ < skip + bytes) throw std::bad_alloc();  // an alignment beyond any element's
  }
  void* p = cur_ + skip;
  cur_ += skip + bytes;
  left_ -= skip + bytes;
  if (pf_) ahead_.at(*pf_, cur_, cur_ + left_);
  return p;
}

void ElementStore::do_deallocate(void* p, std::size_t bytes, std::size_t) {
  if (bytes >= kLarge) {
    if (pf_) pf_->drain();  // the block may be being filled
    large_.erase(p);
    return;
  }
  // The last piece handed out of the current chunk goes back; the others
  // stay until the end.
  if (static_cast<char*>(p) >= chunkStart_ && static_cast<char*>(p) + bytes == cur_) {
    cur_ -= bytes;
    left_ += bytes;
  }
}

void GDSlibrary::buildIndex() {
  index_.clear();
  index_.reserve(structs.size());
  for (std::size_t i = 0; i < structs.size(); ++i)
    index_.try_emplace(std::string_view(structs[i].strname), static_cast<int32_t>(i));
  echo_.clear();
  echoEnd_.clear();
}

int32_t GDSlibrary::indexOf(std::string_view name) const {
  auto it = index_.find(name);
  return it == index_.end() ? -1 : it->second;
}

std::string_view GDSlibrary::findEcho(int32_t i) const {
  if (echoEnd_.size() != structs.size()) {
    echo_.clear();
    echoEnd_.clear();
    for (const auto& s : structs) {
      echo_ += '"';
      echo_ += s.strname;
      echo_ += "\"\n";
      echoEnd_.push_back(echo_.size());
    }
  }
  if (i < 0) return echo_;
  return std::string_view(echo_).substr(0, echoEnd_[static_cast<std::size_t>(i)]);
}

const GDSstruct* GDSfindStruct(const Console& con, const GDSlibrary& lib, std::string_view name) {
  int32_t i = lib.indexOf(name);
  con.out.put(lib.findEcho(i));
  return i < 0 ? nullptr : &lib.structs[static_cast<std::size_t>(i)];
}

}  // namespace qm
