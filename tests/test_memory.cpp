// The reader's memory: the element store that many small vectors share,
// and the thread that fills fresh pages ahead of their writer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <thread>
#include <vector>

#include "common/bigmem.h"
#include "gds/model.h"

namespace {

// Pages filled ahead while the writer writes into them: every byte the
// writer put there stays, every other byte stays zero.
TEST(Prefaulter, FillsAheadWithoutTouchingWhatIsWritten) {
  const std::size_t size = std::size_t{24} << 20;
  qm::BigBlock block(size);
  auto* p = static_cast<unsigned char*>(block.data());
  {
    qm::Prefaulter pf;
    qm::FillAhead ahead;
    for (std::size_t at = 0; at < size - 4096; at += 4096) {
      // Written in part, the rest left to the zeroing of fresh pages.
      std::memset(p + at, static_cast<int>(1 + at / 4096 % 250), 1000);
      ahead.at(pf, p + at + 4096, p + size);
    }
    // Asked twice over, and a range far beyond the writer.
    pf.populate(p, size / 2);
    pf.populate(p + size - (std::size_t{2} << 20), std::size_t{2} << 20);
    pf.drain();
  }
  for (std::size_t at = 0; at < size; at += 4096) {
    const bool written = at < size - 4096;
    for (std::size_t k = 0; k < 4096; ++k) {
      const int want = written && k < 1000 ? static_cast<int>(1 + at / 4096 % 250) : 0;
      ASSERT_EQ(p[at + k], want) << "at " << at + k;
    }
  }
}

// Going away with work queued neither hangs nor leaves a thread behind.
TEST(Prefaulter, StopsWithWorkQueued) {
  qm::BigBlock block(std::size_t{64} << 20);
  for (int round = 0; round < 3; ++round) {
    qm::Prefaulter pf;
    for (std::size_t at = 0; at < block.size(); at += std::size_t{2} << 20)
      pf.populate(static_cast<char*>(block.data()) + at, std::size_t{2} << 20);
  }
  SUCCEED();
}

struct alignas(64) Wide {
  int64_t v[8];
};

// Vectors of every size and alignment share one store: none overlaps
// another, and what each holds survives the others' growing and going.
TEST(ElementStore, VectorsKeepTheirOwnBytes) {
  qm::ElementStore store;
  qm::Prefaulter pf;
  store.prefaultWith(&pf);
  std::vector<std::pmr::vector<int32_t>> ints;
  std::vector<std::pmr::vector<char>> chars;
  std::vector<std::pmr::vector<Wide>> wides;
  for (int i = 0; i < 3000; ++i) {
    // Small ones of odd sizes, grown one by one (the last piece handed out
    // goes back when it grows), and now and then one past a megabyte.
    std::pmr::vector<char> c(&store);
    for (int k = 0; k < i % 37; ++k) c.push_back(static_cast<char>(i + k));
    chars.push_back(std::move(c));
    std::pmr::vector<int32_t> v(&store);
    const int n = i % 500 == 7 ? 300000 : i % 301;
    for (int k = 0; k < n; ++k) v.push_back(i * 1000 + k);
    if (i % 3 == 0) v.shrink_to_fit();
    ints.push_back(std::move(v));
    std::pmr::vector<Wide> w(static_cast<std::size_t>(i % 5), Wide{}, &store);
    for (auto& x : w) x.v[0] = i;
    wides.push_back(std::move(w));
    if (i % 700 == 699) ints.erase(ints.begin() + i / 2);  // a large one may go
  }
  store.prefaultWith(nullptr);
  std::size_t kept = 0;
  for (std::size_t j = 0; j < ints.size(); ++j) {
    const auto& v = ints[j];
    for (std::size_t k = 0; k < v.size(); ++k) ASSERT_EQ(v[k] % 1000, static_cast<int32_t>(k % 1000));
    if (!v.empty()) {
      const int32_t i = v[0] / 1000;
      for (std::size_t k = 1; k < v.size(); ++k) ASSERT_EQ(v[k], i * 1000 + static_cast<int32_t>(k));
    }
    kept += v.size();
  }
  EXPECT_GT(kept, std::size_t{1000000});
  for (std::size_t i = 0; i < chars.size(); ++i)
    for (std::size_t k = 0; k < chars[i].size(); ++k) ASSERT_EQ(chars[i][k], static_cast<char>(i + k));
  for (std::size_t i = 0; i < wides.size(); ++i)
    for (const auto& x : wides[i]) {
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(&x) % alignof(Wide), 0u);
      ASSERT_EQ(x.v[0], static_cast<int64_t>(i));
    }
}

}  // namespace
