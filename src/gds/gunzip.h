// A gzip-compressed input, decompressed on a thread of its own while the
// reader decodes what is already there. Members that follow one another
// are read as one stream; zero bytes after the last member are ignored.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace qm {

// True when the first bytes of an input start a gzip stream (they never
// start a GDSII library, whose first record is a 6-byte HEADER).
inline bool GDSisGzip(const uint8_t* b, std::size_t n) { return n >= 2 && b[0] == 0x1f && b[1] == 0x8b; }

class GunzipStream {
 public:
  // `head` holds the first bytes already taken from `fd`; the rest of the
  // compressed stream is read from `fd`, which stays open and is not
  // closed here.
  GunzipStream(int fd, std::vector<uint8_t> head);
  ~GunzipStream();
  GunzipStream(const GunzipStream&) = delete;
  GunzipStream& operator=(const GunzipStream&) = delete;

  // Copies up to n decompressed bytes to dst and returns their count: 0 at
  // the end of a sound stream, -1 once every byte before a corrupt or
  // truncated place has been handed out.
  long read(uint8_t* dst, std::size_t n);
  // Compressed bytes taken from the input so far.
  uint64_t compressedRead() const { return compressed_.load(std::memory_order_relaxed); }

 private:
  enum class End { None, Clean, Broken };
  void produce(std::vector<uint8_t> head);
  std::vector<uint8_t> emptyBlock();
  void deliver(std::vector<uint8_t>&& block);
  void finish(End how);

  int fd_;
  std::atomic<uint64_t> compressed_{0};
  std::mutex m_;
  std::condition_variable ready_;  // a block or the end is there
  std::condition_variable room_;   // the queue has room, or stop
  std::deque<std::vector<uint8_t>> queue_;
  std::vector<std::vector<uint8_t>> spare_;
  End end_ = End::None;
  bool stop_ = false;
  std::vector<uint8_t> cur_;  // the block being handed out (reader side)
  std::size_t curPos_ = 0;
  std::thread worker_;
};

}  // namespace qm
