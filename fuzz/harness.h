// Shared by the in-process fuzz targets: a private folder for the files
// the writers write, an in-memory descriptor for the input, and the check
// of a failure.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/out.h"

namespace qmfuzz {

class Harness {
 public:
  static Harness& get() {
    static Harness* h = new Harness;  // lives until the process ends
    return *h;
  }
  // Puts the bytes into the input descriptor, positioned at the start.
  int feed(const uint8_t* data, std::size_t size) {
    if (::ftruncate(fd_, 0) != 0) die("ftruncate");
    std::size_t off = 0;
    while (off < size) {
      ssize_t w = ::pwrite(fd_, data + off, size - off, static_cast<off_t>(off));
      if (w <= 0) die("pwrite");
      off += static_cast<std::size_t>(w);
    }
    if (::lseek(fd_, 0, SEEK_SET) != 0) die("lseek");
    return fd_;
  }
  const std::string& dir() const { return dir_; }
  // A file in the private folder.
  std::string file(const std::string& name) const { return dir_ + "/" + name; }

  [[noreturn]] static void die(const char* what) {
    std::fprintf(stderr, "fuzz harness: %s failed\n", what);
    std::abort();
  }

 private:
  Harness() {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    dir_ = std::string(base) + "/qmfuzz.XXXXXX";
    if (!::mkdtemp(dir_.data())) die("mkdtemp");
    fd_ = ::memfd_create("gds", MFD_CLOEXEC);
    if (fd_ < 0) die("memfd_create");
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(get().dir_, ec);
    });
  }
  std::string dir_;
  int fd_ = -1;
};

// A fatal error must end with status 1 and nothing else.
inline void checkFatal(const qm::Failure& f) {
  if (f.status != 1) {
    std::fprintf(stderr, "fatal error with status %d\n", f.status);
    std::abort();
  }
}

}  // namespace qmfuzz
