// Buffered output streams, printf-exact number formatting and the single
// way to report a fatal error.
#pragma once

#include <cstddef>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace qm {

// A write-only stream with a large buffer. It writes to a file descriptor,
// or, when built with Out::Memory, collects everything in a string (tests).
// Destroying a stream writes out what it holds: a stream open when a
// failure unwinds keeps every byte written to it.
class Out {
 public:
  struct Memory {};
  explicit Out(int fd, bool ownsFd = false, std::size_t bufSize = 1 << 20);
  explicit Out(Memory);
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

  void flush();
  // Flushes and closes the descriptor if the stream owns it. Returns false
  // when any write failed.
  bool close();
  bool failed() const { return failed_; }
  std::uint64_t bytesWritten() const { return total_ + len_; }
  // Memory streams only: everything written so far.
  const std::string& str();
  // Called before the buffered bytes are written to the descriptor (a
  // status line on the same terminal erases itself there). Null: none.
  void setBeforeWrite(void (*fn)(void*), void* ctx) {
    beforeWrite_ = fn;
    beforeWriteCtx_ = ctx;
  }

 private:
  void writeSlow(const char* p, std::size_t n);
  void grow(std::size_t n);
  void drain();
  int fd_;
  bool owns_;
  bool memory_ = false;
  bool failed_ = false;
  char* buf_;
  std::size_t len_ = 0;
  std::size_t cap_;
  std::uint64_t total_ = 0;
  std::string mem_;
  void (*beforeWrite_)(void*) = nullptr;
  void* beforeWriteCtx_ = nullptr;
};

namespace detail {
inline constexpr char kDigitPairs[201] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
    "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";

// Decimal digits of u: comparisons, cheaper than dividing for each digit.
inline int digitCount(uint32_t u) {
  if (u < 10) return 1;
  if (u < 100) return 2;
  if (u < 1000) return 3;
  if (u < 10000) return 4;
  if (u < 100000) return 5;
  if (u < 1000000) return 6;
  if (u < 10000000) return 7;
  if (u < 100000000) return 8;
  if (u < 1000000000) return 9;
  return 10;
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

// Standard output and standard error of the current run (buffered): the
// streams a StdStreams or a CaptureStd has put in place, else streams on
// descriptors 1 and 2.
Out& out();
Out& err();

// Makes `o` and `e` the standard streams of the run for its lifetime (the
// entry point owns them), then puts the previous ones back.
class StdStreams {
 public:
  StdStreams(Out& o, Out& e);
  ~StdStreams();
  StdStreams(const StdStreams&) = delete;
  StdStreams& operator=(const StdStreams&) = delete;

 private:
  Out* prevOut_;
  Out* prevErr_;
};

// Lets a test collect standard output and error in memory. Restores the
// previous streams when destroyed.
class CaptureStd {
 public:
  CaptureStd();
  ~CaptureStd();
  std::string out();
  std::string err();

 private:
  Out o_{Out::Memory{}};
  Out e_{Out::Memory{}};
  StdStreams use_{o_, e_};
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
