// The stream's own number formatting gives the bytes printf gives.
#include <gtest/gtest.h>

#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include "common/out.h"

namespace {

// The whole file, which is then removed.
std::string slurpAndRemove(const char* path) {
  std::string got;
  if (FILE* f = std::fopen(path, "rb")) {
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) got.append(buf, n);
    std::fclose(f);
  }
  std::remove(path);
  return got;
}

std::string viaPrintf(int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%" PRId64, v);
  return buf;
}

std::string viaFormat(int64_t v) {
  char buf[32];
  return std::string(buf, qm::formatInt(buf, v));
}

TEST(Out, IntegersAsPrintfWritesThem) {
  std::vector<int64_t> values = {0, 1, -1, 9, 10, 11, 99, 100, 101, 999, 1000, -1000, 12345, INT32_MAX, INT32_MIN,
                                 int64_t{INT32_MAX} + 1, int64_t{UINT32_MAX}, int64_t{UINT32_MAX} + 1, INT64_MAX,
                                 INT64_MIN};
  int64_t p = 1;
  for (int k = 0; k <= 18; ++k, p = k <= 18 ? p * 10 : p) {
    for (int64_t d : {-1, 0, 1}) {
      values.push_back(p + d);
      values.push_back(-(p + d));
    }
  }
  std::mt19937_64 rng(7);
  for (int i = 0; i < 100000; ++i) values.push_back(static_cast<int64_t>(rng()) >> (rng() % 64));
  for (int64_t v : values) ASSERT_EQ(viaFormat(v), viaPrintf(v)) << v;

  qm::Out o{qm::Out::Memory{}};
  std::string expected;
  for (int64_t v : values) {
    o.putInt(v);
    o.put(' ');
    expected += viaPrintf(v) + " ";
  }
  EXPECT_EQ(o.str(), expected);
}

TEST(Out, WideIntegersAsPrintfWritesThem) {
  std::vector<int32_t> values = {0, INT32_MAX, INT32_MIN, INT32_MIN + 1};
  for (int32_t p = 1, k = 0; k <= 9; ++k, p = k <= 9 ? p * 10 : p)
    for (int32_t d : {-1, 0, 1}) {
      values.push_back(p + d);
      values.push_back(-(p + d));
    }
  for (int32_t v = -100000; v <= 100000; ++v) values.push_back(v);
  std::mt19937 rng(11);
  for (int i = 0; i < 200000; ++i) values.push_back(static_cast<int32_t>(rng() >> (rng() % 32)));
  for (int32_t v : values) {
    char buf[32];
    std::memset(buf, '#', sizeof buf);
    char* end = qm::formatInt32Wide(buf + 1, v);
    ASSERT_EQ(std::string(buf + 1, end), viaPrintf(v)) << v;
    // Nothing before the start or beyond the room of the longest number.
    ASSERT_EQ(buf[0], '#');
    for (std::size_t k = 12; k < sizeof buf; ++k) ASSERT_EQ(buf[k], '#') << v;
  }
}

TEST(Out, FixedPointAsPrintfWritesIt) {
  for (double v : {0.0, -0.0, 1.0, -1.0, 123456.0, -2147483648.0, 0.5, 1e20, -1e300, 1e15, 999999999999999.0}) {
    qm::Out o{qm::Out::Memory{}};
    o.putFixed6(v);
    char buf[400];
    std::snprintf(buf, sizeof buf, "%f", v);
    EXPECT_EQ(o.str(), buf) << v;
  }
}

// Bytes put with putStable are written from where they are, between the
// buffered bytes around them: the file holds everything in order.
TEST(Out, StableBytesKeepTheirPlace) {
  char path[] = "/tmp/qm_out_stable_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::vector<std::string> texts;
  for (std::size_t n : {std::size_t{1}, std::size_t{4095}, std::size_t{4096}, std::size_t{23000},
                        std::size_t{200000}})
    texts.push_back(std::string(n, static_cast<char>('a' + texts.size())));
  std::string want;
  {
    qm::Out o(fd, true, 1 << 16);
    std::mt19937 rng(3);
    // More pieces than one write takes, and more buffered bytes than the
    // buffer holds between them.
    for (int k = 0; k < 3000; ++k) {
      const std::string& t = texts[rng() % texts.size()];
      if (k % 1999 == 0) o.releaseStable();
      if (k % 3 == 0) {
        o.putStable(t);
        want += t;
      }
      o.putInt(k);
      want += std::to_string(k);
      if (k % 5 == 0) {
        std::string filler(rng() % 20000, 'z');
        o.put(filler);
        want += filler;
      }
      char* q = o.reserve(3);
      q[0] = '<';
      q[1] = '>';
      o.commit(q + 2);
      want += "<>";
      EXPECT_EQ(o.bytesWritten(), want.size());
    }
    EXPECT_TRUE(o.close());
  }
  const std::string got = slurpAndRemove(path);
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
}

// A file written behind (handed to the disk and dropped from the cache as
// it goes) holds every byte in order.
TEST(Out, WrittenBehindFileHoldsEveryByte) {
  char path[] = "/tmp/qm_out_behind_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  std::string want;
  {
    qm::Out o(fd, true, 1 << 20);
    o.writeBehind(std::uint64_t{3} << 20);
    std::mt19937 rng(5);
    while (want.size() < (std::size_t{45} << 20)) {
      std::string piece(rng() % 300000, static_cast<char>('A' + rng() % 26));
      o.put(piece);
      want += piece;
      const std::string mark = std::to_string(want.size());
      o.putInt(static_cast<int64_t>(want.size()));
      want += mark;
    }
    EXPECT_TRUE(o.close());
  }
  const std::string got = slurpAndRemove(path);
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
}

}  // namespace

namespace {

// Writes of every size, from single bytes to several buffers' worth, in
// the same order whatever the stream: the bytes come out as written.
std::string pattern(qm::Out& o) {
  std::string all;
  for (std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{70000}, std::size_t{5} << 20, std::size_t{17},
                           std::size_t{33} << 20, std::size_t{2}}) {
    std::string chunk(size, static_cast<char>('a' + size % 26));
    chunk[size / 2] = '!';
    if (size == 1) o.put(chunk[0]);
    else o.write(chunk.data(), chunk.size());
    o.putInt(static_cast<long long>(size));
    static const std::string kept(3 << 20, 'k');
    o.putStable(size % 2 ? std::string_view(kept) : std::string_view(kept).substr(0, size % 1000));
    all += chunk + std::to_string(size) + (size % 2 ? kept : kept.substr(0, size % 1000));
  }
  return all;
}

TEST(Out, SpoolsAndLargeWritesKeepEveryByteInOrder) {
  // Spooled, then written into a memory stream.
  qm::Out spool{qm::Out::Spool{}};
  const std::string want = pattern(spool);
  qm::Out mem{qm::Out::Memory{}};
  mem.put("head ");
  spool.spoolTo(mem);
  EXPECT_EQ(spool.bytesWritten(), want.size());
  EXPECT_TRUE(mem.str() == "head " + want);

  // Straight to a file: writes larger than the buffer skip it.
  std::FILE* tmp = std::tmpfile();
  ASSERT_NE(tmp, nullptr);
  {
    qm::Out f(::dup(fileno(tmp)), true, 1 << 16);
    EXPECT_EQ(pattern(f), want);
    EXPECT_EQ(f.bytesWritten(), want.size());
    EXPECT_TRUE(f.close());
  }
  std::string got(want.size() + 1, '\0');
  std::rewind(tmp);
  got.resize(std::fread(got.data(), 1, got.size(), tmp));
  std::fclose(tmp);
  EXPECT_TRUE(got == want);
}

}  // namespace
