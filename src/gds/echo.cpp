#include "gds/echo.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace qm {

namespace {

// A batch is handed over at these sizes: large enough that handing over
// costs nothing next to formatting, small enough to start the formatting
// early and to keep a few batches in a cache.
// Each hand-over may wake the other thread: fewer, larger batches keep
// the wake-ups rare.
constexpr std::size_t kBatchItems = 16384;
constexpr std::size_t kBatchText = std::size_t{256} << 10;
// Batches waiting at most: the reader waits beyond that, so the memory
// the echo takes stays bounded whatever the input.
constexpr std::size_t kMaxWaiting = 4;

// Appends vsnprintf's bytes to dst.
void appendV(std::string& dst, const char* fmt, va_list ap) {
  char small[512];
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    dst.append(small, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    std::size_t at = dst.size();
    dst.resize(at + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(dst.data() + at, static_cast<std::size_t>(n) + 1, fmt, ap2);
    dst.resize(at + static_cast<std::size_t>(n));
  }
  va_end(ap2);
}

}  // namespace

class Echo::Formatter {
 public:
  explicit Formatter(Out& o) : o_(o) {}

  void format(const Item& it, std::string_view text) {
    switch (it.kind) {
      case Item::Text: o_.put(text.substr(it.off, it.len)); break;
      case Item::Boundary:
      case Item::Box: header(it); points(it.pts, it.n); break;
      case Item::Points: points(it.pts, it.n); break;
      case Item::Sref: sref(it, text.substr(it.off, it.len)); break;
    }
  }

 private:
  void header(const Item& it) {
    char* q = o_.reserve(96);
    if (it.kind == Item::Box) {
      std::memcpy(q, "Box on layer ", 13);
      q = formatInt(q + 13, it.a);
      std::memcpy(q, ", boxtype ", 10);
      q = formatInt(q + 10, it.b);
    } else {
      std::memcpy(q, "Boundary on layer ", 18);
      q = formatInt(q + 18, it.a);
      std::memcpy(q, ", datatype ", 11);
      q = formatInt(q + 11, it.b);
    }
    *q++ = ':';
    *q++ = '\n';
    o_.commit(q);
  }

  void points(const GDSpoint* pts, int32_t n) {
    // Most lists are short: their first ten lines start with a prefix
    // copied whole.
    static constexpr char kFirst[10][16] = {"point[0] = ", "point[1] = ", "point[2] = ", "point[3] = ",
                                            "point[4] = ", "point[5] = ", "point[6] = ", "point[7] = ",
                                            "point[8] = ", "point[9] = "};
    for (int32_t i = 0; i < n; ++i) {
      char* p = o_.reserve(48);  // 6 + 10 + 4 + 11 + 1 + 11 + 1 at most
      if (i < 10) {
        std::memcpy(p, kFirst[i], 16);
        p += 11;
      } else {
        std::memcpy(p, "point[", 6);
        p = formatInt(p + 6, i);
        std::memcpy(p, "] = ", 4);
        p += 4;
      }
      p = formatInt(p, pts[i].x);
      *p++ = ' ';
      p = formatInt(p, pts[i].y);
      *p++ = '\n';
      o_.commit(p);
    }
  }

  void sref(const Item& it, std::string_view name) {
    char* q = o_.reserve(64);
    std::memcpy(q, "Sref at ", 8);
    q = formatInt(q + 8, it.a);
    *q++ = ',';
    q = formatInt(q, it.b);
    std::memcpy(q, ", angle = ", 10);
    o_.commit(q + 10);
    o_.put(angleText_(it.angle));
    o_.put(", mag = ");
    o_.put(magText_(it.mag));
    q = o_.reserve(32);
    std::memcpy(q, ", mirror = ", 11);
    q = formatInt(q + 11, it.mirror);
    std::memcpy(q, " of cell named \"", 16);
    o_.commit(q + 16);
    o_.put(name);
    o_.put("\"\n");
  }

  // "%.2e" of the last value seen: placements repeat a few values.
  struct ExpCache {
    double v = 0;
    bool valid = false;
    char text[40];
    std::string_view operator()(double x) {
      if (!valid || std::memcmp(&x, &v, sizeof x) != 0) {
        std::snprintf(text, sizeof text, "%.2e", x);
        v = x;
        valid = true;
      }
      return text;
    }
  };

  Out& o_;
  ExpCache angleText_, magText_;
};

Echo::Echo(Out& out, bool threaded)
    : out_(out), threaded_(threaded), inLine_(std::make_unique<Formatter>(out_)) {}

Echo::~Echo() { stop(); }

// Handing an entry over costs about as much as formatting a reference or a
// text on the spot; it pays for point lists. So the echo is formatted on
// the spot at first, and in each window of entries where point lines are
// many it goes to the thread (started then), where they are few it comes
// back, once the thread has written out what it holds.
void Echo::adapt(int32_t points) {
  ++windowItems_;
  windowPoints_ += static_cast<std::size_t>(points > 0 ? points : 0);
  if (windowItems_ < kBatchItems) return;
  const bool heavy = windowPoints_ >= 2 * windowItems_;
  windowItems_ = windowPoints_ = 0;
  if (!threaded_ || heavy == queued_) return;
  if (!heavy) {
    sync();
    queued_ = false;
    return;
  }
  if (!worker_.joinable()) {
    cur_ = std::make_unique<Batch>();
    cur_->items.reserve(kBatchItems);
    try {
      worker_ = std::thread([this] { work(); });
    } catch (const std::system_error&) {
      threaded_ = false;  // no thread to be had: everything on the spot
      return;
    }
  }
  queued_ = true;
}

void Echo::printf(const char* fmt, ...) {
  adapt(0);
  va_list ap;
  va_start(ap, fmt);
  if (!queued_) {
    scratch_.clear();
    appendV(scratch_, fmt, ap);
    out_.put(scratch_);
  } else {
    Item it;
    it.off = static_cast<uint32_t>(cur_->text.size());
    appendV(cur_->text, fmt, ap);
    it.len = static_cast<uint32_t>(cur_->text.size() - it.off);
    add(it);
  }
  va_end(ap);
}

void Echo::boundary(bool box, int32_t layer, int32_t datatype, const GDSpoint* pts, int32_t n) {
  adapt(n);
  Item it;
  it.kind = box ? Item::Box : Item::Boundary;
  it.a = layer;
  it.b = datatype;
  it.pts = pts;
  it.n = n;
  add(it);
}

void Echo::points(const GDSpoint* pts, int32_t n) {
  adapt(n);
  Item it;
  it.kind = Item::Points;
  it.pts = pts;
  it.n = n;
  add(it);
}

void Echo::sref(GDSpoint origin, double angle, double mag, int mirror, std::string_view name) {
  adapt(0);
  Item it;
  it.kind = Item::Sref;
  it.a = origin.x;
  it.b = origin.y;
  it.angle = angle;
  it.mag = mag;
  it.mirror = mirror;
  if (!queued_) {
    it.len = static_cast<uint32_t>(name.size());
    inLine_->format(it, name);
    return;
  }
  it.off = static_cast<uint32_t>(cur_->text.size());
  it.len = static_cast<uint32_t>(name.size());
  cur_->text.append(name);
  add(it);
}

void Echo::add(const Item& it) {
  if (!queued_) {
    inLine_->format(it, {});
    return;
  }
  cur_->items.push_back(it);
  if (cur_->items.size() >= kBatchItems || cur_->text.size() >= kBatchText) submit();
}

// Hands the batch being filled to the thread and takes an empty one.
void Echo::submit() {
  if (cur_->items.empty()) return;
  std::unique_lock lock(m_);
  cv_.wait(lock, [&] { return full_.size() < kMaxWaiting; });
  full_.push_back(std::move(cur_));
  if (!free_.empty()) {
    cur_ = std::move(free_.back());
    free_.pop_back();
  } else {
    cur_ = std::make_unique<Batch>();
    cur_->items.reserve(kBatchItems);
  }
  cv_.notify_all();
}

void Echo::sync() {
  if (!worker_.joinable()) return;
  submit();
  std::unique_lock lock(m_);
  cv_.wait(lock, [&] { return full_.empty() && !busy_; });
}

// Also runs while a failure unwinds: hands over the last batch without
// taking a new one (nothing here allocates or throws).
void Echo::stop() {
  if (!worker_.joinable()) return;
  {
    std::unique_lock lock(m_);
    if (!cur_->items.empty()) {
      cv_.wait(lock, [&] { return full_.size() < kMaxWaiting; });
      full_.push_back(std::move(cur_));
    }
    stop_ = true;
  }
  cv_.notify_all();
  worker_.join();
}

// The formatting thread: batches in the order they were handed over.
void Echo::work() {
  Formatter f(out_);
  std::unique_lock lock(m_);
  for (;;) {
    cv_.wait(lock, [&] { return !full_.empty() || stop_; });
    if (full_.empty()) return;
    std::unique_ptr<Batch> b = std::move(full_.front());
    full_.pop_front();
    busy_ = true;
    lock.unlock();
    cv_.notify_all();  // room for the reader
    for (const Item& it : b->items) f.format(it, b->text);
    b->items.clear();
    b->text.clear();
    lock.lock();
    free_.push_back(std::move(b));
    busy_ = false;
    cv_.notify_all();
  }
}

}  // namespace qm
