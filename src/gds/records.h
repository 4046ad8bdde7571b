// The record stream: GDSII records read from a descriptor in large blocks,
// with a one-record put-back that works on pipes too, and the value
// decoders. A gzip-compressed input is recognised by its first bytes and
// read as the library it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qm {

class GunzipStream;
class Progress;

struct GDSrecord {
  int type = -1;                // 0..59, 60 for any higher type byte, -1 when none
  uint32_t length = 0;          // the record length as stored
  const uint8_t* data = nullptr;  // the data bytes (after type and data type)
  std::size_t size = 0;         // length - 4
};

// The standard name of a record type (0..59), "UNKNOWN" otherwise.
const char* GDSrecordName(int type);

class RecordStream {
 public:
  // `progress`, when given, hears how many input bytes have been read.
  explicit RecordStream(int fd, Progress* progress = nullptr);
  ~RecordStream();
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;
  // Reads the next record. Returns its type code, or -1 at the end of the
  // input. A length byte alone, a record shorter than 4 bytes or a record
  // cut off inside its data is fatal ("Error in reading the GDS file.
  // Aborting\n"). The record's data stays valid until the next read.
  int read(GDSrecord& r) {
    // The whole record is in the buffer nearly always: decoded here, in
    // line; the rest (refilling, the end, damaged records) out of line.
    const std::size_t avail = end_ - pos_;
    if (avail >= 4) {
      const uint8_t* p = buf_.data() + pos_;
      const std::size_t len = (static_cast<std::size_t>(p[0]) << 8) | p[1];
      if (len >= 4 && len <= avail) return take(r, p, len);
    }
    return readSlow(r);
  }
  // Puts back the record just read: the next read returns it again.
  void unread();
  // The length of the library still to be read from where the stream
  // started, when it is known: a regular file, not compressed (known once
  // the first record has been read). 0 otherwise.
  uint64_t knownLength() const { return gz_ ? 0 : fileLeft_; }
  // Bytes consumed so far.
  uint64_t offset() const { return consumed_ + pos_; }
  // Called when the reading is over: a compressed input is read to its end
  // so that a damaged stream is reported (the read error), whatever part
  // of it the library took.
  void finish();

 private:
  int readSlow(GDSrecord& r);
  // The record of `len` bytes at p, the read position: handed out, passed.
  int take(GDSrecord& r, const uint8_t* p, std::size_t len) {
    r.length = static_cast<uint32_t>(len);
    r.type = p[2] <= 59 ? p[2] : 60;
    r.data = p + 4;
    r.size = len - 4;
    pos_ += len;
    lastLen_ = len;
    return r.type;
  }
  bool fill(std::size_t need);
  std::size_t readSome(uint8_t* dst, std::size_t n);
  void report();
  int fd_;
  Progress* progress_;
  uint64_t total_ = 0;     // input size when known (a regular file), else 0
  uint64_t fileLeft_ = 0;  // bytes from the start offset to the end of a regular file
  uint64_t rawRead_ = 0;   // bytes taken from the descriptor
  bool sniffed_ = false;   // the first bytes have been looked at
  std::unique_ptr<GunzipStream> gz_;
  std::vector<uint8_t> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::size_t lastLen_ = 0;
  uint64_t consumed_ = 0;
  bool eof_ = false;
};

inline int GDSint2(const uint8_t* b) {
  return static_cast<int16_t>(static_cast<uint16_t>((b[0] << 8) | b[1]));
}
inline int32_t GDSint4(const uint8_t* b) {
  return static_cast<int32_t>((static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
                              (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]));
}
double GDSreal8(const uint8_t* b);
// At most the first 1024 bytes, ending before the first NUL.
std::string GDSstring(const uint8_t* b, std::size_t n);

}  // namespace qm
