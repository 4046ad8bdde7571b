#include "common/out.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace qm {
Out::Out(int fd, bool ownsFd, std::size_t bufSize)
    : fd_(fd), owns_(ownsFd), buf_(new char[bufSize]), cap_(bufSize) {}

Out::Out(Memory) : Out(-1, false, 1 << 16) { memory_ = true; }

Out::Out(Spool) : Out(-1, false, 1 << 16) {
  memory_ = true;
  spool_ = true;
}

Out::~Out() {
  close();
  delete[] buf_;
  for (Block& b : blocks_) std::free(b.p);
}

void Out::drain() {
  if (!pieces_.empty()) {
    writePieces();
    return;
  }
  if (len_ == 0) return;
  total_ += len_;
  if (spool_) {
    if (blocks_.empty() || blocks_.back().cap - blocks_.back().len < len_) {
      // Blocks of 32 MiB on huge pages where the system has them: few
      // page faults for a spool of hundreds of megabytes.
      constexpr std::size_t kHuge = std::size_t{2} << 20;
      const std::size_t size = std::max(std::size_t{32} << 20, (len_ + kHuge - 1) / kHuge * kHuge);
      void* p = std::aligned_alloc(kHuge, size);
      if (!p) throw std::bad_alloc();
      ::madvise(p, size, MADV_HUGEPAGE);
      blocks_.push_back(Block{static_cast<char*>(p), 0, size});
    }
    Block& b = blocks_.back();
    std::memcpy(b.p + b.len, buf_, len_);
    if (!segs_.empty() && !segs_.back().stable && segs_.back().v.data() + segs_.back().v.size() == b.p + b.len)
      segs_.back().v = std::string_view(segs_.back().v.data(), segs_.back().v.size() + len_);
    else
      segs_.push_back(Seg{std::string_view(b.p + b.len, len_), false});
    b.len += len_;
    len_ = 0;
    return;
  }
  if (memory_) {
    mem_.append(buf_, len_);
    len_ = 0;
    return;
  }
  const std::size_t n = len_;
  len_ = 0;
  writeOut(buf_, n);
  if (behind_) pushBehind();
}

void Out::writeBehind(std::uint64_t from) {
  struct stat st;
  if (memory_ || fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
  behind_ = true;
  behindFrom_ = from;
  behindTo_ = from;
}

// Starts the disk on each whole stretch written past behindTo_, and waits
// for the stretch before it to be on the disk before dropping it from the
// cache: one stretch in flight while the next is written. Only hints: what
// they return changes nothing.
void Out::pushBehind() {
  constexpr std::uint64_t kStretch = std::uint64_t{8} << 20;
  if (failed_) return;
  while (total_ >= behindTo_ + kStretch) {
    const auto at = static_cast<off_t>(behindTo_);
    const auto len = static_cast<off_t>(kStretch);
    ::sync_file_range(fd_, at, len, SYNC_FILE_RANGE_WRITE);
    if (behindTo_ >= behindFrom_ + kStretch) {
      ::sync_file_range(fd_, at - len, len,
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
      ::posix_fadvise(fd_, at - len, len, POSIX_FADV_DONTNEED);
    }
    behindTo_ += kStretch;
  }
}

void Out::writeOut(const char* p, std::size_t n) {
  if (fd_ < 0 || failed_) return;
  if (beforeWrite_) beforeWrite_(beforeWriteCtx_);
  while (n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      return;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
}

void Out::putStableSlow(std::string_view s) {
  if (len_ > piecedLen_) pieces_.push_back({nullptr, len_});
  piecedLen_ = len_;
  pieces_.push_back({s.data(), s.size()});
  stableBytes_ += s.size();
  if (pieces_.size() >= kMaxPieces) drain();
}

// Writes the listed pieces and what the buffer holds after them, in order,
// a batch of pieces per call.
void Out::writePieces() {
  if (len_ > piecedLen_) pieces_.push_back({nullptr, len_});
  std::vector<iovec> iov;
  iov.reserve(pieces_.size());
  std::size_t from = 0;  // buffer bytes before this piece
  for (const Piece& pc : pieces_) {
    if (pc.stable) {
      iov.push_back({const_cast<char*>(pc.stable), pc.size});
    } else {
      iov.push_back({buf_ + from, pc.size - from});
      from = pc.size;
    }
  }
  total_ += len_ + stableBytes_;
  len_ = 0;
  piecedLen_ = 0;
  stableBytes_ = 0;
  pieces_.clear();
  if (fd_ < 0 || failed_) return;
  if (beforeWrite_) beforeWrite_(beforeWriteCtx_);
  std::size_t k = 0;
  while (k < iov.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(iov.size() - k, kMaxPieces));
    ssize_t w = ::writev(fd_, iov.data() + k, count);
    if (w < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
      return;
    }
    // Past what was written; a piece written in part keeps its rest.
    auto done = static_cast<std::size_t>(w);
    while (k < iov.size() && done >= iov[k].iov_len) {
      done -= iov[k].iov_len;
      ++k;
    }
    if (k < iov.size()) {
      iov[k].iov_base = static_cast<char*>(iov[k].iov_base) + done;
      iov[k].iov_len -= done;
    }
  }
  if (behind_) pushBehind();
}

void Out::writeSlow(const char* p, std::size_t n) {
  while (n > 0) {
    if (len_ == cap_) drain();
    if (len_ == 0 && pieces_.empty() && n >= cap_ && !memory_) {
      // Whole buffers' worth goes straight to the descriptor.
      total_ += n;
      writeOut(p, n);
      if (behind_) pushBehind();
      return;
    }
    std::size_t k = cap_ - len_;
    if (k > n) k = n;
    std::memcpy(buf_ + len_, p, k);
    len_ += k;
    p += k;
    n -= k;
  }
}

void Out::grow(std::size_t n) {
  char* nb = new char[n];
  std::memcpy(nb, buf_, len_);
  delete[] buf_;
  buf_ = nb;
  cap_ = n;
}

void Out::putInt(long long v) {
  char* p = reserve(24);
  commit(formatInt(p, v));
}

void Out::putFixed6(double v) {
  // The range test comes first: converting a value beyond long long (or a
  // NaN) is undefined.
  if (v > -1e15 && v < 1e15 && v == static_cast<double>(static_cast<long long>(v)) &&
      !(v == 0.0 && std::signbit(v))) {
    putInt(static_cast<long long>(v));
    write(".000000", 7);
  } else if (v == 0.0) {
    write("-0.000000", 9);  // a negative zero keeps its sign
  } else {
    printf("%f", v);
  }
}

void Out::printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  char small[512];
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) {
    va_end(ap2);
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    write(small, static_cast<std::size_t>(n));
  } else {
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), fmt, ap2);
    write(big.data(), static_cast<std::size_t>(n));
  }
  va_end(ap2);
}

void Out::flush() { drain(); }

bool Out::close() {
  drain();
  if (owns_ && fd_ >= 0) {
    if (::close(fd_) != 0) failed_ = true;
    fd_ = -1;
  }
  return !failed_;
}

void Out::putRef(std::string_view s) {
  drain();
  total_ += s.size();
  if (!s.empty()) segs_.push_back(Seg{s, true});
}

void Out::spoolTo(Out& to) {
  drain();
  for (const Seg& s : segs_) {
    if (s.stable) to.putStable(s.v);
    else to.write(s.v.data(), s.v.size());
  }
}

const std::string& Out::str() {
  drain();
  return mem_;
}

CaptureStd::CaptureStd() = default;
CaptureStd::~CaptureStd() = default;
std::string CaptureStd::out() { return o_.str(); }
std::string CaptureStd::err() { return e_.str(); }

std::unique_ptr<Out> openOutFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  auto f = std::make_unique<Out>(fd, true);
  // Drawings run to gigabytes: past the first ones, handed to the disk as
  // they are written.
  f->writeBehind(std::uint64_t{256} << 20);
  return f;
}

void closeOutFile(Out& f, const std::string& path) {
  if (!f.close()) fatal("Couldn't write %s. Aborting...\n", path.c_str());
}

namespace {
std::string vformat(const char* fmt, va_list ap) {
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap2);
  va_end(ap2);
  if (n <= 0) return {};
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(s.data(), s.size(), fmt, ap);
  s.resize(static_cast<std::size_t>(n));
  return s;
}
}  // namespace

void fatal(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vformat(fmt, ap);
  va_end(ap);
  throw Failure{std::move(s), false, 1};
}

void fatalOnStdout(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vformat(fmt, ap);
  va_end(ap);
  throw Failure{std::move(s), true, 1};
}

}  // namespace qm
