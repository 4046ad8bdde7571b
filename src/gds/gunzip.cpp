#include "gds/gunzip.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace qm {

namespace {
constexpr std::size_t kBlock = std::size_t{1} << 18;  // decompressed bytes per block
constexpr std::size_t kDepth = 8;                      // blocks ready at most
constexpr std::size_t kInput = std::size_t{1} << 18;   // compressed bytes per read

// The zlib inflate state of one run, released on every way out.
struct Inflater {
  z_stream zs{};
  bool ok = false;
  Inflater() { ok = inflateInit2(&zs, 16 + MAX_WBITS) == Z_OK; }  // gzip wrapper only
  ~Inflater() {
    if (ok) inflateEnd(&zs);
  }
};
}  // namespace

GunzipStream::GunzipStream(int fd, std::vector<uint8_t> head) : fd_(fd) {
  worker_ = std::thread([this, h = std::move(head)]() mutable { produce(std::move(h)); });
}

GunzipStream::~GunzipStream() {
  {
    std::lock_guard<std::mutex> lk(m_);
    stop_ = true;
  }
  room_.notify_all();
  worker_.join();
}

std::vector<uint8_t> GunzipStream::emptyBlock() {
  std::unique_lock<std::mutex> lk(m_);
  room_.wait(lk, [&] { return stop_ || queue_.size() < kDepth; });
  if (stop_) return {};
  if (!spare_.empty()) {
    std::vector<uint8_t> b = std::move(spare_.back());
    spare_.pop_back();
    b.resize(kBlock);
    return b;
  }
  lk.unlock();
  return std::vector<uint8_t>(kBlock);
}

void GunzipStream::deliver(std::vector<uint8_t>&& block) {
  if (block.empty()) return;
  {
    std::lock_guard<std::mutex> lk(m_);
    queue_.push_back(std::move(block));
  }
  ready_.notify_one();
}

void GunzipStream::finish(End how) {
  {
    std::lock_guard<std::mutex> lk(m_);
    end_ = how;
  }
  ready_.notify_one();
}

void GunzipStream::produce(std::vector<uint8_t> head) {
  Inflater inf;
  if (!inf.ok) return finish(End::Broken);
  z_stream& zs = inf.zs;
  std::vector<uint8_t> in(std::max(kInput, head.size()));
  std::memcpy(in.data(), head.data(), head.size());
  compressed_.store(head.size(), std::memory_order_relaxed);
  zs.next_in = in.data();
  zs.avail_in = static_cast<uInt>(head.size());
  bool eofIn = false;
  // Moves the unread input to the front and reads more after it. A read
  // error counts as the end of the input.
  auto refill = [&] {
    std::memmove(in.data(), zs.next_in, zs.avail_in);
    zs.next_in = in.data();
    for (;;) {
      ssize_t n = ::read(fd_, in.data() + zs.avail_in, in.size() - zs.avail_in);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        eofIn = true;
      } else {
        zs.avail_in += static_cast<uInt>(n);
        compressed_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
      }
      return;
    }
  };

  std::vector<uint8_t> block = emptyBlock();
  std::size_t used = 0;
  bool inMember = true;
  for (;;) {
    if (block.empty()) return;  // stopped
    if (inMember) {
      if (zs.avail_in == 0) {
        if (eofIn) break;  // cut off inside a member
        refill();
        continue;
      }
      zs.next_out = block.data() + used;
      zs.avail_out = static_cast<uInt>(block.size() - used);
      int ret = inflate(&zs, Z_NO_FLUSH);
      used = block.size() - zs.avail_out;
      if (used == block.size()) {
        deliver(std::move(block));
        block = emptyBlock();
        used = 0;
      }
      if (ret == Z_STREAM_END) {
        inMember = false;
      } else if (ret != Z_OK && ret != Z_BUF_ERROR) {
        break;  // corrupt data, a wrong check value or length
      }
    } else {
      // Between members: another member, zero padding, or the end.
      if (zs.avail_in < 2 && !eofIn) {
        refill();
        continue;
      }
      if (zs.avail_in == 0) {
        block.resize(used);
        deliver(std::move(block));
        return finish(End::Clean);
      }
      if (GDSisGzip(zs.next_in, zs.avail_in)) {
        if (inflateReset(&zs) != Z_OK) break;
        inMember = true;
        continue;
      }
      if (std::any_of(zs.next_in, zs.next_in + zs.avail_in, [](uint8_t c) { return c != 0; })) break;
      zs.next_in += zs.avail_in;
      zs.avail_in = 0;
    }
  }
  block.resize(used);
  deliver(std::move(block));
  finish(End::Broken);
}

long GunzipStream::read(uint8_t* dst, std::size_t n) {
  if (curPos_ == cur_.size()) {
    std::unique_lock<std::mutex> lk(m_);
    if (!cur_.empty()) {
      spare_.push_back(std::move(cur_));
      cur_.clear();
    }
    curPos_ = 0;
    ready_.wait(lk, [&] { return !queue_.empty() || end_ != End::None; });
    if (queue_.empty()) return end_ == End::Clean ? 0 : -1;
    cur_ = std::move(queue_.front());
    queue_.pop_front();
    lk.unlock();
    room_.notify_one();
  }
  std::size_t k = std::min(n, cur_.size() - curPos_);
  std::memcpy(dst, cur_.data() + curPos_, k);
  curPos_ += k;
  return static_cast<long>(k);
}

}  // namespace qm
