// Helpers for the geometry tests: libraries built by hand, captured runs
// that may end in a fatal error, and a thread with a large stack.
#pragma once

#include <pthread.h>

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/out.h"
#include "common/walkmode.h"
#include "gds/model.h"

namespace geomtest {

using qm::GDSpoint;

// Builds a library in memory. Structures are added first; cells are then
// appended to a structure's cell list in walk order.
class LibBuilder {
 public:
  qm::GDSlibrary lib;

  int32_t addStruct(const std::string& name) {
    qm::GDSstruct s;
    s.strname = name;
    lib.structs.push_back(std::move(s));
    return static_cast<int32_t>(lib.structs.size() - 1);
  }
  qm::GDSstruct& st(int32_t i) { return lib.structs[static_cast<std::size_t>(i)]; }

  void boundary(int32_t s, int32_t layer, std::vector<GDSpoint> pts) {
    qm::GDSboundary b;
    b.layer = layer;
    b.npoints = static_cast<int32_t>(pts.size());
    b.points = keep(std::move(pts));
    cell(s, qm::KIND_BOUNDARY, st(s).boundaries.size());
    st(s).boundaries.push_back(b);
  }
  void path(int32_t s, int32_t layer, int32_t pathtype, int32_t width, std::vector<GDSpoint> pts) {
    qm::GDSpath p;
    p.layer = layer;
    p.pathtype = pathtype;
    p.width = width;
    p.npoints = static_cast<int32_t>(pts.size());
    p.points = keep(std::move(pts));
    cell(s, qm::KIND_PATH, st(s).paths.size());
    st(s).paths.push_back(p);
  }
  void sref(int32_t s, int32_t target, const qm::GDStransf& t) {
    qm::GDSsref r;
    r.structptr = target;
    r.transf = t;
    cell(s, qm::KIND_SREF, st(s).srefs.size());
    st(s).srefs.push_back(r);
  }
  void aref(int32_t s, int32_t target, int32_t cols, int32_t rows, int32_t colspace, int32_t rowspace,
            const qm::GDStransf& t) {
    qm::GDSaref a;
    a.structptr = target;
    a.cols = cols;
    a.rows = rows;
    a.colspace = colspace;
    a.rowspace = rowspace;
    a.transf = t;
    cell(s, qm::KIND_AREF, st(s).arefs.size());
    st(s).arefs.push_back(a);
  }
  void text(int32_t s, int32_t layer) {
    qm::GDStext t;
    t.layer = layer;
    t.string = "T";
    cell(s, qm::KIND_TEXT, st(s).texts.size());
    st(s).texts.push_back(t);
  }
  void other(int32_t s, int32_t kind) { cell(s, kind, 0); }

 private:
  GDSpoint* keep(std::vector<GDSpoint> pts) {
    store_.push_back(std::move(pts));
    return store_.back().empty() ? nullptr : store_.back().data();
  }
  void cell(int32_t s, int32_t kind, std::size_t idx) {
    st(s).cells.push_back(qm::GDScell{kind, static_cast<uint32_t>(idx)});
  }
  std::deque<std::vector<GDSpoint>> store_;
};

// What a call printed, and how it ended.
struct Captured {
  std::string out;
  std::string err;
  int status = 0;  // 0, or the status of the fatal error
  bool operator==(const Captured&) const = default;
};

inline Captured capture(const std::function<void()>& fn) {
  Captured c;
  qm::setFatalThrows(true);
  {
    qm::CaptureStd cap;
    try {
      fn();
    } catch (const qm::FatalExit& e) {
      c.status = e.status;
    }
    c.out = cap.out();
    c.err = cap.err();
  }
  qm::setFatalThrows(false);
  return c;
}

// Sets the walk mode for the lifetime of the object.
class WalkMode {
 public:
  explicit WalkMode(bool plain) : prev_(qm::plainWalks()) { qm::setPlainWalks(plain); }
  ~WalkMode() { qm::setPlainWalks(prev_); }

 private:
  bool prev_;
};

// Runs fn on a thread with a stack of `bytes`, and waits for it.
inline void onBigStack(const std::function<void()>& fn, std::size_t bytes = std::size_t{1} << 30) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  struct Arg {
    const std::function<void()>* fn;
    std::exception_ptr ex;
  } arg{&fn, nullptr};
  pthread_t th;
  auto body = [](void* p) -> void* {
    auto* a = static_cast<Arg*>(p);
    try {
      (*a->fn)();
    } catch (...) {
      a->ex = std::current_exception();
    }
    return nullptr;
  };
  if (pthread_create(&th, &attr, body, &arg) != 0) throw std::runtime_error("pthread_create");
  pthread_join(th, nullptr);
  pthread_attr_destroy(&attr);
  if (arg.ex) std::rethrow_exception(arg.ex);
}

}  // namespace geomtest
