// The reader's echo on standard output: one entry per library record,
// structure and element, in file order.
//
// Formatting the echo of point lists costs more than decoding them, and
// the machine has a second core: where point lines are many, a threaded
// Echo hands what it is given, in batches, to a thread of its own that
// formats it while the reader goes on decoding (elsewhere it formats on
// the spot). The bytes and their order are those of the plain Echo, which
// formats each call on the spot. Whoever else writes to the run's
// streams while an Echo is open calls sync() first, so that the streams
// receive their bytes in the order of a plain run (and a standard error
// sharing standard output's file sees the same interleaving).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/out.h"
#include "gds/transf.h"

namespace qm {

class Echo {
 public:
  // `threaded`: may format on a thread of its own (where the echo is heavy
  // enough for that to pay).
  Echo(Out& out, bool threaded);
  // Everything handed over is written to the stream before the Echo goes,
  // also when a failure unwinds through it: a failing run echoes exactly
  // what a plain one does before its message.
  ~Echo();
  Echo(const Echo&) = delete;
  Echo& operator=(const Echo&) = delete;

  void printf(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  // "Boundary on layer %d, datatype %d:\n" (or "Box on layer %d, boxtype
  // %d:\n") and the points. The points must stay where they are (the
  // library's point arena) until sync().
  void boundary(bool box, int32_t layer, int32_t datatype, const GDSpoint* pts, int32_t n);
  // "point[%d] = %d %d\n" for each point, kept like the above.
  void points(const GDSpoint* pts, int32_t n);
  // "Sref at %d,%d, angle = %.2e, mag = %.2e, mirror = %d of cell named \"%s\"\n"
  void sref(GDSpoint origin, double angle, double mag, int mirror, std::string_view name);
  // Returns once everything handed over has been written to the stream.
  void sync();

  // One echo entry; for a threaded Echo, recorded to be formatted later.
  struct Item {
    enum Kind : uint8_t { Text, Boundary, Box, Points, Sref };
    Kind kind = Text;
    int mirror = 0;
    int32_t a = 0, b = 0;   // layer and datatype, or the placement's origin
    int32_t n = 0;          // points
    const GDSpoint* pts = nullptr;
    double angle = 0, mag = 0;
    uint32_t off = 0, len = 0;  // text or name in the batch's text
  };

 private:
  struct Batch {
    std::vector<Item> items;
    std::string text;
  };
  // Formats items; lives on the thread that formats.
  class Formatter;

  void adapt(int32_t points);
  void add(const Item& it);
  void submit();
  void work();
  void stop();

  Out& out_;
  bool threaded_;
  bool queued_ = false;                // entries go to the thread (else formatted on the spot)
  std::size_t windowItems_ = 0;        // entries and point lines of the current window
  std::size_t windowPoints_ = 0;
  std::unique_ptr<Formatter> inLine_;  // formats on the spot
  std::string scratch_;                // printf text formatted on the spot
  std::unique_ptr<Batch> cur_;         // being filled (threaded)
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::unique_ptr<Batch>> full_;   // waiting to be formatted
  std::vector<std::unique_ptr<Batch>> free_;  // formatted, for reuse
  bool busy_ = false;                         // the thread is formatting a batch
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace qm
