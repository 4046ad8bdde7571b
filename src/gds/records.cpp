#include "gds/records.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "common/out.h"
#include "common/progress.h"
#include "gds/gunzip.h"

namespace qm {

namespace {
const char* const kNames[60] = {
    "HEADER",    "BGNLIB",    "LIBNAME",   "UNITS",      "ENDLIB",    "BGNSTR",   "STRNAME",  "ENDSTR",
    "BOUNDARY",  "PATH",      "SREF",      "AREF",       "TEXT",      "LAYER",    "DATATYPE", "WIDTH",
    "XY",        "ENDEL",     "SNAME",     "COLROW",     "TEXTNODE",  "NODE",     "TEXTTYPE", "PRESENTATION",
    "SPACING",   "STRING",    "STRANS",    "MAG",        "ANGLE",     "UINTEGER", "USTRING",  "REFLIBS",
    "FONTS",     "PATHTYPE",  "GENERATIONS", "ATTRTABLE", "STYPTABLE", "STRTYPE", "ELFLAGS",  "ELKEY",
    "LINKTYPE",  "LINKKEYS",  "NODETYPE",  "PROPATTR",   "PROPVALUE", "BOX",      "BOXTYPE",  "PLEX",
    "BGNEXTN",   "ENDEXTN",   "TAPENUM",   "TAPECODE",   "STRCLASS",  "RESERVED", "FORMAT",   "MASK",
    "ENDMASKS",  "LIBDIRSIZE", "SRFNAME",  "LIBSECUR"};

[[noreturn]] void readError() { fatal("Error in reading the GDS file. Aborting\n"); }
}  // namespace

const char* GDSrecordName(int type) { return type >= 0 && type < 60 ? kNames[type] : "UNKNOWN"; }

// The buffer starts small (a small library costs little) and doubles, up to
// 1 MiB, each time a long input has been read through it.
RecordStream::RecordStream(int fd, Progress* progress) : fd_(fd), progress_(progress), buf_(1 << 16) {
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    if (progress_ && progress_->active()) total_ = static_cast<uint64_t>(st.st_size);
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at >= 0 && at < st.st_size) fileLeft_ = static_cast<uint64_t>(st.st_size - at);
  }
}

RecordStream::~RecordStream() = default;

std::size_t RecordStream::readSome(uint8_t* dst, std::size_t n) {
  if (gz_) {
    long k = gz_->read(dst, n);
    if (k < 0) readError();  // a damaged or cut-off compressed stream
    return static_cast<std::size_t>(k);
  }
  for (;;) {
    ssize_t k = ::read(fd_, dst, n);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return 0;  // a read error counts as the end of the input
    rawRead_ += static_cast<uint64_t>(k);
    return static_cast<std::size_t>(k);
  }
}

void RecordStream::report() { progress_->reading(gz_ ? gz_->compressedRead() : rawRead_, total_); }

bool RecordStream::fill(std::size_t need) {
  if (end_ - pos_ >= need) return true;
  if (pos_ > 0) {
    std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
    end_ -= pos_;
    consumed_ += pos_;
    pos_ = 0;
  }
  if (buf_.size() < need) buf_.resize(need);
  else if (consumed_ >= buf_.size() && buf_.size() < (std::size_t{1} << 20)) buf_.resize(buf_.size() * 2);
  while (end_ < need && !eof_) {
    std::size_t n = readSome(buf_.data() + end_, buf_.size() - end_);
    if (n == 0) {
      eof_ = true;
      break;
    }
    end_ += n;
    if (!sniffed_ && end_ >= 2) {
      // The first bytes tell a compressed input: from here on the stream
      // is what they decompress to.
      sniffed_ = true;
      if (consumed_ == 0 && pos_ == 0 && GDSisGzip(buf_.data(), end_)) {
        gz_ = std::make_unique<GunzipStream>(fd_, std::vector<uint8_t>(buf_.begin(), buf_.begin() + end_));
        end_ = 0;
      }
    }
    if (progress_) report();
  }
  return end_ - pos_ >= need;
}

void RecordStream::finish() {
  if (!gz_) return;
  consumed_ += end_;
  pos_ = end_ = lastLen_ = 0;
  while (readSome(buf_.data(), buf_.size()) > 0)
    if (progress_) report();
  eof_ = true;
}

int RecordStream::readSlow(GDSrecord& r) {
  lastLen_ = 0;
  if (!fill(2)) {
    if (end_ - pos_ == 1) readError();
    r = GDSrecord{};
    return -1;
  }
  const uint8_t* p = buf_.data() + pos_;
  std::size_t len = (static_cast<std::size_t>(p[0]) << 8) | p[1];
  if (len < 4) readError();
  if (!fill(len)) readError();
  return take(r, buf_.data() + pos_, len);
}

void RecordStream::unread() {
  pos_ -= lastLen_;
  lastLen_ = 0;
}

double GDSreal8(const uint8_t* b) {
  int sign = b[0] & 0x80;
  int exponent = (b[0] & 0x7f) - 64;
  uint64_t m = 0;
  for (int i = 1; i < 8; ++i) m = (m << 8) | b[i];
  double mantissa = static_cast<double>(m);
  double v = (mantissa / 72057594037927936.0) * std::pow(16.0, static_cast<double>(exponent));
  return sign ? -v : v;
}

std::string GDSstring(const uint8_t* b, std::size_t n) {
  if (n > 1024) n = 1024;
  const void* z = std::memchr(b, 0, n);
  if (z) n = static_cast<std::size_t>(static_cast<const uint8_t*>(z) - b);
  return std::string(reinterpret_cast<const char*>(b), n);
}

}  // namespace qm
