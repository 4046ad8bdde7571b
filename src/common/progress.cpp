#include "common/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "common/out.h"

namespace qm {

namespace {
constexpr int64_t kInterval = 100;  // milliseconds between two redraws
constexpr std::string_view kErase = "\r\033[K";

int64_t steadyMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void writeAll(int fd, std::string_view s) {
  while (!s.empty()) {
    ssize_t n = ::write(fd, s.data(), s.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    s.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string megabytes(uint64_t n) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f MB", static_cast<double>(n) / 1e6);
  return b;
}
}  // namespace

Progress::Progress(const Console& con, bool active, int fd, Clock clock)
    : con_(con), active_(active), fd_(fd), clock_(clock ? std::move(clock) : Clock(steadyMillis)) {
  if (!active_) return;
  struct winsize ws {};
  if (::ioctl(fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1) width_ = ws.ws_col;
  // What the program writes to the terminal first takes the line away.
  con_.err.setBeforeWrite(&Progress::eraseHook, this);
  if (::isatty(1)) {
    con_.out.setBeforeWrite(&Progress::eraseHook, this);
    hookedOut_ = true;
  }
}

Progress::~Progress() {
  if (!active_) return;
  clear();
  con_.err.setBeforeWrite(nullptr, nullptr);
  if (hookedOut_) con_.out.setBeforeWrite(nullptr, nullptr);
}

void Progress::eraseHook(void* self) { static_cast<Progress*>(self)->clear(); }

bool Progress::due() {
  if (!active_) return false;
  int64_t now = clock_();
  if (drawn_ && now - last_ < kInterval) return false;
  drawn_ = true;
  last_ = now;
  return true;
}

std::string Progress::readingText(uint64_t done, uint64_t total) {
  std::string t = "quillmask: reading " + megabytes(done);
  if (total > 0) {
    if (done > total) done = total;
    char pct[16];
    std::snprintf(pct, sizeof pct, " (%d%%)", static_cast<int>(done * 100 / total));
    t += " of " + megabytes(total) + pct;
  }
  return t;
}

std::string Progress::writingText(std::string_view writer, std::string_view layer, int index, int count) {
  std::string t = "quillmask: writing ";
  t += writer;
  if (!layer.empty()) {
    t += ", layer ";
    t += layer;
    if (count > 0) t += " (" + std::to_string(index) + " of " + std::to_string(count) + ")";
  }
  return t;
}

void Progress::reading(uint64_t done, uint64_t total) {
  if (due()) draw(readingText(done, total));
}

void Progress::writing(std::string_view writer, std::string_view layer, int index, int count) {
  if (due()) draw(writingText(writer, layer, index, count));
}

void Progress::draw(const std::string& text) {
  // Messages waiting in the buffer go out first, on lines of their own.
  con_.err.flush();
  std::string line(kErase);
  std::size_t room = static_cast<std::size_t>(width_ - 1);
  std::size_t n = 0;
  for (unsigned char c : text) {
    if (n == room) break;
    line += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
    ++n;
  }
  // Never end inside a multi-byte character.
  if (n == room)
    while (line.size() > kErase.size() && (static_cast<unsigned char>(line.back()) & 0xc0) == 0x80) line.pop_back();
  writeAll(fd_, line);
  shown_ = true;
}

void Progress::clear() {
  if (!shown_) return;
  shown_ = false;
  writeAll(fd_, kErase);
}

}  // namespace qm
