// Buffered output streams, printf-exact number formatting and the single
// way to report a fatal error.
#pragma once

#include <bit>
#include <cstddef>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// A write-only stream with a large buffer. It writes to a file descriptor,
// or, when built with Out::Memory, collects everything in a string (tests).
// Destroying a stream writes out what it holds: a stream open when a
// failure unwinds keeps every byte written to it.
class Out {
 public:
  struct Memory {};
  // Keeps what is written, however much, for spoolTo: large blocks, no
  // copying as it grows.
  struct Spool {};
  explicit Out(int fd, bool ownsFd = false, std::size_t bufSize = 1 << 20);
  explicit Out(Memory);
  explicit Out(Spool);
  ~Out();
  Out(const Out&) = delete;
  Out& operator=(const Out&) = delete;

  void write(const char* p, std::size_t n) {
    if (n <= cap_ - len_) {
      std::memcpy(buf_ + len_, p, n);
      len_ += n;
    } else {
      writeSlow(p, n);
    }
  }
  void put(std::string_view s) { write(s.data(), s.size()); }
  // The same bytes as put(s), for bytes the caller keeps unchanged at the
  // same address until the stream is next flushed, closed or spooled (text
  // owned by the library being drawn): long ones are handed to the
  // descriptor from where they are, without a copy, and a spool keeps where
  // they are.
  void putStable(std::string_view s) {
    if (spool_) {
      putRef(s);
    } else if (s.size() < kStableMin || memory_) {
      put(s);
    } else {
      putStableSlow(s);
    }
  }
  // Writes out what putStable left where it was, so that its owner may
  // change or free it; nothing when there is none.
  void releaseStable() {
    if (!pieces_.empty()) drain();
  }
  void put(char c) {
    if (len_ == cap_) drain();
    buf_[len_++] = c;
  }
  // Direct access for hot formatting loops: at least n bytes of room at
  // the returned pointer; commit(end) makes them part of the stream.
  char* reserve(std::size_t n) {
    if (cap_ - len_ < n) {
      drain();
      if (cap_ < n) grow(n);
    }
    return buf_ + len_;
  }
  void commit(char* end) { len_ = static_cast<std::size_t>(end - buf_); }
  // Same bytes as printf("%d") / printf("%lld").
  void putInt(long long v);
  // Same bytes as printf("%f") of a value that is a whole number of small
  // magnitude; falls back to printf otherwise.
  void putFixed6(double v);
  void printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

  // For a long file on a disk: once `from` bytes are written, each further
  // stretch is handed to the disk as soon as it is written, and dropped
  // from the page cache once the disk has it. The bytes are the same; a
  // writer of gigabytes no longer leaves the kernel to reclaim them under
  // pressure.
  void writeBehind(std::uint64_t from);

  void flush();
  // Flushes and closes the descriptor if the stream owns it. Returns false
  // when any write failed.
  bool close();
  bool failed() const { return failed_; }
  std::uint64_t bytesWritten() const { return total_ + len_ + stableBytes_; }
  // Memory streams only: everything written so far.
  const std::string& str();
  // Spool streams only: writes everything written so far into `to` (what
  // came through putStable goes on as putStable).
  void spoolTo(Out& to);
  // Called before the buffered bytes are written to the descriptor (a
  // status line on the same terminal erases itself there). Null: none.
  void setBeforeWrite(void (*fn)(void*), void* ctx) {
    beforeWrite_ = fn;
    beforeWriteCtx_ = ctx;
  }

 private:
  static constexpr std::size_t kStableMin = 4096;
  static constexpr std::size_t kMaxPieces = 1024;  // one writev per this many
  void putStableSlow(std::string_view s);
  void writeSlow(const char* p, std::size_t n);
  void writeOut(const char* p, std::size_t n);
  void writePieces();
  void pushBehind();
  void grow(std::size_t n);
  void drain();
  void putRef(std::string_view s);
  int fd_;
  bool owns_;
  bool memory_ = false;
  bool failed_ = false;
  char* buf_;
  std::size_t len_ = 0;
  std::size_t cap_;
  std::uint64_t total_ = 0;
  // Bytes waiting to be written in this order: runs of the buffer (up to
  // an offset) and bytes put with putStable.
  struct Piece {
    const char* stable;  // null: the buffer up to `size`
    std::size_t size;
  };
  std::vector<Piece> pieces_;
  std::size_t piecedLen_ = 0;  // buffer bytes already listed in pieces_
  std::uint64_t stableBytes_ = 0;
  bool behind_ = false;
  std::uint64_t behindFrom_ = 0;
  std::uint64_t behindTo_ = 0;  // handed to the disk up to here
  std::string mem_;
  struct Block {
    char* p;
    std::size_t len;
    std::size_t cap;
  };
  std::vector<Block> blocks_;          // spool streams: the bytes they own
  struct Seg {
    std::string_view v;
    bool stable;  // put with putStable: not in the blocks
  };
  std::vector<Seg> segs_;  // everything, in order
  bool spool_ = false;
  void (*beforeWrite_)(void*) = nullptr;
  void* beforeWriteCtx_ = nullptr;
};

namespace detail {
inline constexpr char kDigitPairs[201] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
    "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";

// Number of decimal digits of u (1 for 0), without a division per digit.
inline int digitCount(uint32_t u) {
  static constexpr uint32_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                          100000, 1000000, 10000000, 100000000, 1000000000};
  // u | 1 has the digits of u; bit_width * log10(2) is the count or one more.
  const uint32_t v = u | 1;
  const int t = (std::bit_width(v) * 1233) >> 12;
  return t + 1 - (v < kPow10[t] ? 1 : 0);
}
inline int digitCount(uint64_t u) {
  int n = 1;
  for (uint64_t t = u; t >= 10; t /= 10) ++n;
  return n;
}

template <typename U>
inline char* formatUnsigned(char* p, U u) {
  const int n = digitCount(u);
  char* e = p + n;
  while (u >= 100) {
    const auto r = static_cast<unsigned>(u % 100);
    u /= 100;
    e -= 2;
    std::memcpy(e, kDigitPairs + 2 * r, 2);
  }
  if (u >= 10) {
    std::memcpy(e - 2, kDigitPairs + 2 * static_cast<unsigned>(u), 2);
  } else {
    e[-1] = static_cast<char>('0' + u);
  }
  return p + n;
}
}  // namespace detail

// Writes printf("%d") of v at p; returns the end.
inline char* formatInt(char* p, int64_t v) {
  uint64_t u = v < 0 ? 0ull - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  if (v < 0) *p++ = '-';
  if (u <= UINT32_MAX) return detail::formatUnsigned(p, static_cast<uint32_t>(u));
  return detail::formatUnsigned(p, u);
}

// The same bytes as formatInt for a 32-bit value, for hot loops that have
// room at p for the longest number (11 bytes): it may write bytes past the
// end it returns (up to p + 11), which the caller writes over next.
inline char* formatInt32Wide(char* p, int32_t v) {
  if constexpr (std::endian::native != std::endian::little) return formatInt(p, v);
  uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  *p = '-';
  p += v < 0 ? 1 : 0;
  if (u >= 100000000u) return detail::formatUnsigned(p, u);
  // Eight digits at once, one per byte, the most significant first in
  // memory: two halves of four digits, each split into two pairs, each
  // pair into two digits; then the leading zeros are shifted out.
  const uint64_t halves = (u / 10000) | (static_cast<uint64_t>(u % 10000) << 32);
  const uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007Full;
  const uint64_t pairs = hundreds | ((halves - hundreds * 100) << 16);
  const uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000Full;
  const uint64_t digits = tens | ((pairs - tens * 10) << 8);
  const int n = detail::digitCount(u);
  const int drop = 8 * (8 - n);
  const uint64_t text = (digits >> drop) + (0x3030303030303030ull >> drop);
  std::memcpy(p, &text, 8);
  return p + n;
}

// Standard output and standard error of a run (buffered). The entry point
// owns the two streams; every function that prints takes the Console as its
// first parameter, and a class that prints keeps a copy of it.
struct Console {
  Out& out;
  Out& err;
};

// Two memory streams a test hands to the code it runs, to look at what that
// code printed on standard output and standard error.
class CaptureStd {
 public:
  CaptureStd();
  ~CaptureStd();
  CaptureStd(const CaptureStd&) = delete;
  CaptureStd& operator=(const CaptureStd&) = delete;
  const Console& console() const { return con_; }
  std::string out();
  std::string err();

 private:
  Out o_{Out::Memory{}};
  Out e_{Out::Memory{}};
  Console con_{o_, e_};
};

// Opens path for writing (created or truncated). Null when it cannot.
std::unique_ptr<Out> openOutFile(const std::string& path);

// Closes a drawing file; a file that could not be written whole is not
// left looking complete: "Couldn't write %s. Aborting...\n", status 1.
void closeOutFile(Out& f, const std::string& path);

// A failure that ends the run: its message, the stream the message goes to
// and the exit status. Library code throws it (through fatal and
// fatalOnStdout); the entry point writes the message, flushes the streams
// and exits with the status.
struct Failure {
  std::string message;
  bool onStdout = false;
  int status = 1;
};
// Throws a Failure with the formatted message for standard error, status 1.
[[noreturn]] void fatal(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// The same, with the message for standard output.
[[noreturn]] void fatalOnStdout(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qm
