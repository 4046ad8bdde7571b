#include "gds/model.h"

#include <algorithm>

#include "common/out.h"

namespace qm {

GDSpoint* PointArena::alloc(std::size_t n) {
  if (n == 0) return nullptr;
  if (n > kChunk / 4) {
    chunks_.push_back(std::make_unique<GDSpoint[]>(n));
    GDSpoint* p = chunks_.back().get();
    // Keep filling the current chunk: move the large block before it.
    if (chunks_.size() >= 2 && used_ < cap_) std::swap(chunks_[chunks_.size() - 1], chunks_[chunks_.size() - 2]);
    return p;
  }
  if (used_ + n > cap_) {
    // Small libraries stay small: the chunks grow from kFirstChunk points.
    std::size_t size = cap_ == 0 ? kFirstChunk : std::min(kChunk, cap_ * 2);
    while (size < n) size *= 2;
    chunks_.push_back(std::make_unique_for_overwrite<GDSpoint[]>(size));
    cap_ = size;
    used_ = 0;
  }
  GDSpoint* p = chunks_.back().get() + used_;
  used_ += n;
  return p;
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
