// A one-line status on a terminal for long runs: how much of the input has
// been read, then which drawing is being written and its layer. The line
// is redrawn at most ten times a second, erased before anything else is
// written to the terminal through the program's streams, and erased at the
// end. An inactive Progress does nothing at all.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "common/out.h"

namespace qm {

class Progress {
 public:
  // Monotonic milliseconds.
  using Clock = std::function<int64_t()>;

  // `active`: whether to draw at all (the caller asks for it and `fd` is a
  // terminal). The line goes straight to `fd`, around the buffered streams
  // of `con` (an active Progress hooks them).
  Progress(const Console& con, bool active, int fd = 2, Clock clock = {});
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  bool active() const { return active_; }
  // `done` bytes of the input read, of `total` (0: not known).
  void reading(uint64_t done, uint64_t total);
  // A drawing being written: the writer's name, and the layer it draws
  // (entry `index` of `count`; no layer when `layer` is empty).
  void writing(std::string_view writer, std::string_view layer = {}, int index = 0, int count = 0);
  // Erases the line if it is shown.
  void clear();

  // The status text of the calls above, as drawn (before cutting to the
  // terminal's width).
  static std::string readingText(uint64_t done, uint64_t total);
  static std::string writingText(std::string_view writer, std::string_view layer, int index, int count);

 private:
  bool due();
  void draw(const std::string& text);
  static void eraseHook(void* self);

  Console con_;
  bool active_;
  int fd_;
  Clock clock_;
  int width_ = 80;
  bool shown_ = false;
  bool drawn_ = false;
  int64_t last_ = 0;
  bool hookedOut_ = false;
};

}  // namespace qm
