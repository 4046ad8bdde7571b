#include "geom/walk.h"

#include <algorithm>

#include "common/out.h"
#include "gds/numeric.h"
#include "geom/transf.h"
#include "geom/walkcache.h"

namespace qm {

GDSlibrary::WalkCache& walkCacheOf(const GDSlibrary& lib) {
  auto* c = lib.walkCaches.mine();
  if (c && c->nstructs == lib.structs.size()) return *c;
  auto made = std::make_shared<GDSlibrary::WalkCache>();
  c = made.get();
  c->nstructs = lib.structs.size();
  c->mark.assign(c->nstructs, 0);
  c->memo.resize(c->nstructs);
  lib.walkCaches.set(std::move(made));
  return *c;
}

void resetWalkCache(const GDSlibrary& lib) { lib.walkCaches.clear(); }

void GDSlibrary::WalkCaches::set(std::shared_ptr<WalkCache> c) const {
  if (entered_.load(std::memory_order_acquire) != 0) {
    const std::thread::id me = std::this_thread::get_id();
    for (int k = 0; k < kSlots; ++k) {
      if (owner_[k].load(std::memory_order_acquire) == me) {
        cache_[k] = std::move(c);
        return;
      }
    }
  }
  shared_ = std::move(c);
}

void GDSlibrary::WalkCaches::enter() const {
  const std::thread::id me = std::this_thread::get_id();
  for (int k = 0; k < kSlots; ++k) {
    std::thread::id none;
    if (owner_[k].compare_exchange_strong(none, me, std::memory_order_acq_rel)) {
      entered_.fetch_add(1, std::memory_order_acq_rel);
      return;
    }
  }
  fatal("Too many threads walk the library at once. Aborting...\n");
}

void GDSlibrary::WalkCaches::leave() const {
  const std::thread::id me = std::this_thread::get_id();
  for (int k = 0; k < kSlots; ++k) {
    if (owner_[k].load(std::memory_order_acquire) == me) {
      cache_[k].reset();
      owner_[k].store(std::thread::id{}, std::memory_order_release);
      entered_.fetch_sub(1, std::memory_order_acq_rel);
      return;
    }
  }
}

void GDSlibrary::WalkCaches::clear() const {
  for (int k = 0; k < kSlots; ++k) {
    cache_[k].reset();
    owner_[k].store(std::thread::id{}, std::memory_order_release);
  }
  entered_.store(0, std::memory_order_release);
  shared_.reset();
}

int32_t structIndex(const GDSlibrary& lib, const GDSstruct& s) {
  const GDSstruct* b = lib.structs.data();
  const GDSstruct* p = &s;
  if (lib.structs.empty() || p < b || p >= b + lib.structs.size()) return -1;
  return static_cast<int32_t>(p - b);
}

// ---- descent path ----

Descent::Descent(const GDSlibrary& lib, int32_t structptr) : lib_(lib), idx_(-1), s_(nullptr) {
  if (structptr < 0 || static_cast<std::size_t>(structptr) >= lib.structs.size()) return;
  auto& c = walkCacheOf(lib);
  uint32_t& m = c.mark[static_cast<std::size_t>(structptr)];
  if (m == c.level) {
    fatal("Cyclic reference to structure \"%s\". Aborting\n",
          lib.structs[static_cast<std::size_t>(structptr)].strname.c_str());
  }
  prev_ = m;
  m = c.level;
  idx_ = structptr;
  s_ = &lib.structs[static_cast<std::size_t>(structptr)];
}

Descent::~Descent() {
  if (idx_ >= 0) walkCacheOf(lib_).mark[static_cast<std::size_t>(idx_)] = prev_;
}

TopDescent::TopDescent(const GDSlibrary& lib, const GDSstruct& top) : lib_(lib), idx_(structIndex(lib, top)) {
  auto& c = walkCacheOf(lib);
  ++c.level;
  if (idx_ >= 0) {
    uint32_t& m = c.mark[static_cast<std::size_t>(idx_)];
    prev_ = m;
    m = c.level;
  }
}

TopDescent::~TopDescent() {
  auto& c = walkCacheOf(lib_);
  if (idx_ >= 0) c.mark[static_cast<std::size_t>(idx_)] = prev_;
  --c.level;
}

// ---- reference graph ----

namespace {

void buildGraph(const GDSlibrary& lib, GDSlibrary::WalkCache& c) {
  const std::size_t n = lib.structs.size();
  auto bound = [n](int32_t p) { return p >= 0 && static_cast<std::size_t>(p) < n; };

  c.childStart.assign(n + 1, 0);
  c.child.clear();
  c.layStart.assign(n + 1, 0);
  c.lay.clear();
  for (std::size_t i = 0; i < n; ++i) {
    const GDSstruct& s = lib.structs[i];
    c.childStart[i] = static_cast<uint32_t>(c.child.size());
    std::size_t first = c.child.size();
    for (const GDSsref& r : s.srefs)
      if (bound(r.structptr)) c.child.push_back(r.structptr);
    for (const GDSaref& a : s.arefs)
      if (bound(a.structptr) && a.cols > 0 && a.rows > 0) c.child.push_back(a.structptr);
    std::sort(c.child.begin() + static_cast<std::ptrdiff_t>(first), c.child.end());
    c.child.erase(std::unique(c.child.begin() + static_cast<std::ptrdiff_t>(first), c.child.end()), c.child.end());

    c.layStart[i] = static_cast<uint32_t>(c.lay.size());
    first = c.lay.size();
    for (const GDSboundary& b : s.boundaries) c.lay.push_back(b.layer);
    for (const GDSpath& p : s.paths) c.lay.push_back(p.layer);
    for (const GDStext& t : s.texts) c.lay.push_back(t.layer);
    std::sort(c.lay.begin() + static_cast<std::ptrdiff_t>(first), c.lay.end());
    c.lay.erase(std::unique(c.lay.begin() + static_cast<std::ptrdiff_t>(first), c.lay.end()), c.lay.end());
  }
  c.childStart[n] = static_cast<uint32_t>(c.child.size());
  c.layStart[n] = static_cast<uint32_t>(c.lay.size());

  // Strongly connected components (Tarjan, without recursion). Components
  // come out children first.
  constexpr int32_t kNone = -1;
  std::vector<int32_t> index(n, kNone), low(n, 0);
  std::vector<uint8_t> onStack(n, 0);
  std::vector<int32_t> stack;
  struct Frame {
    int32_t v;
    uint32_t next;
  };
  std::vector<Frame> frames;
  c.sccOf.assign(n, kNone);
  c.sccMembers.clear();
  c.sccStart.clear();
  c.sccCyclic.clear();
  int32_t counter = 0;
  for (std::size_t root = 0; root < n; ++root) {
    if (index[root] != kNone) continue;
    frames.push_back({static_cast<int32_t>(root), c.childStart[root]});
    index[root] = low[root] = counter++;
    stack.push_back(static_cast<int32_t>(root));
    onStack[root] = 1;
    while (!frames.empty()) {
      Frame& f = frames.back();
      const auto v = static_cast<std::size_t>(f.v);
      if (f.next < c.childStart[v + 1]) {
        const auto w = static_cast<std::size_t>(c.child[f.next++]);
        if (index[w] == kNone) {
          index[w] = low[w] = counter++;
          stack.push_back(static_cast<int32_t>(w));
          onStack[w] = 1;
          frames.push_back({static_cast<int32_t>(w), c.childStart[w]});
        } else if (onStack[w]) {
          low[v] = std::min(low[v], index[w]);
        }
        continue;
      }
      if (low[v] == index[v]) {
        const auto id = static_cast<int32_t>(c.sccStart.size());
        c.sccStart.push_back(static_cast<uint32_t>(c.sccMembers.size()));
        std::size_t size = 0;
        int32_t w;
        do {
          w = stack.back();
          stack.pop_back();
          onStack[static_cast<std::size_t>(w)] = 0;
          c.sccOf[static_cast<std::size_t>(w)] = id;
          c.sccMembers.push_back(w);
          ++size;
        } while (w != f.v);
        bool cyc = size > 1;
        if (!cyc) {
          for (uint32_t k = c.childStart[v]; k < c.childStart[v + 1]; ++k)
            if (static_cast<std::size_t>(c.child[k]) == v) cyc = true;
        }
        c.sccCyclic.push_back(cyc ? 1 : 0);
      }
      frames.pop_back();
      if (!frames.empty()) {
        const auto u = static_cast<std::size_t>(frames.back().v);
        low[u] = std::min(low[u], low[v]);
      }
    }
  }
  c.sccStart.push_back(static_cast<uint32_t>(c.sccMembers.size()));

  // A cycle is reachable when the component is cyclic or a child reaches one.
  const std::size_t ncomp = c.sccCyclic.size();
  std::vector<uint8_t> reach(ncomp, 0);
  c.cyclic.assign(n, 0);
  for (std::size_t k = 0; k < ncomp; ++k) {
    bool r = c.sccCyclic[k];
    for (uint32_t m = c.sccStart[k]; m < c.sccStart[k + 1] && !r; ++m) {
      const auto v = static_cast<std::size_t>(c.sccMembers[m]);
      for (uint32_t e = c.childStart[v]; e < c.childStart[v + 1]; ++e)
        if (reach[static_cast<std::size_t>(c.sccOf[static_cast<std::size_t>(c.child[e])])]) r = true;
    }
    reach[k] = r ? 1 : 0;
    for (uint32_t m = c.sccStart[k]; m < c.sccStart[k + 1]; ++m)
      c.cyclic[static_cast<std::size_t>(c.sccMembers[m])] = reach[k];
  }
  c.graphReady = true;
}

bool usesLayer(const GDSlibrary::WalkCache& c, std::size_t v, int32_t layer) {
  auto b = c.lay.begin() + c.layStart[v];
  auto e = c.lay.begin() + c.layStart[v + 1];
  return std::binary_search(b, e, layer);
}

const std::vector<uint8_t>& layerBelow(const GDSlibrary& lib, int32_t layer) {
  auto& c = walkGraphOf(lib);
  auto it = c.below.find(layer);
  if (it != c.below.end()) return it->second;
  std::vector<uint8_t>& val = c.below[layer];
  val.assign(c.nstructs, 0);
  const std::size_t ncomp = c.sccCyclic.size();
  for (std::size_t k = 0; k < ncomp; ++k) {
    bool r = c.sccCyclic[k];
    for (uint32_t m = c.sccStart[k]; m < c.sccStart[k + 1] && !r; ++m) {
      const auto v = static_cast<std::size_t>(c.sccMembers[m]);
      if (usesLayer(c, v, layer)) r = true;
      for (uint32_t e = c.childStart[v]; e < c.childStart[v + 1] && !r; ++e)
        if (val[static_cast<std::size_t>(c.child[e])]) r = true;
    }
    for (uint32_t m = c.sccStart[k]; m < c.sccStart[k + 1]; ++m)
      val[static_cast<std::size_t>(c.sccMembers[m])] = r ? 1 : 0;
  }
  return val;
}

}  // namespace

GDSlibrary::WalkCache& walkGraphOf(const GDSlibrary& lib) {
  auto& c = walkCacheOf(lib);
  if (!c.graphReady) buildGraph(lib, c);
  return c;
}

bool reachesCycle(const GDSlibrary& lib, int32_t structIdx) {
  if (structIdx < 0 || static_cast<std::size_t>(structIdx) >= lib.structs.size()) return false;
  return walkGraphOf(lib).cyclic[static_cast<std::size_t>(structIdx)] != 0;
}

bool reachesCycle(const GDSlibrary& lib, const GDSstruct& s) {
  int32_t idx = structIndex(lib, s);
  if (idx >= 0) return reachesCycle(lib, idx);
  // A structure outside the library: through its children.
  for (const GDSsref& r : s.srefs)
    if (reachesCycle(lib, r.structptr)) return true;
  for (const GDSaref& a : s.arefs)
    if (a.cols > 0 && a.rows > 0 && reachesCycle(lib, a.structptr)) return true;
  return false;
}

bool hasLayerBelow(const GDSlibrary& lib, int32_t structIdx, int32_t layer) {
  if (structIdx < 0 || static_cast<std::size_t>(structIdx) >= lib.structs.size()) return false;
  return layerBelow(lib, layer)[static_cast<std::size_t>(structIdx)] != 0;
}

bool hasLayerBelow(const GDSlibrary& lib, const GDSstruct& s, int32_t layer) {
  int32_t idx = structIndex(lib, s);
  if (idx >= 0) return hasLayerBelow(lib, idx, layer);
  for (const GDSboundary& b : s.boundaries)
    if (b.layer == layer) return true;
  for (const GDSpath& p : s.paths)
    if (p.layer == layer) return true;
  for (const GDStext& t : s.texts)
    if (t.layer == layer) return true;
  for (const GDSsref& r : s.srefs)
    if (hasLayerBelow(lib, r.structptr, layer)) return true;
  for (const GDSaref& a : s.arefs)
    if (a.cols > 0 && a.rows > 0 && hasLayerBelow(lib, a.structptr, layer)) return true;
  return false;
}

// ---- the walk of placed elements ----

ArrayMembers::ArrayMembers(const GDSaref& a, const GDStransf& parent, MemberOrder order)
    : a_(a), parent_(parent), order_(order) {
  if (order_ == MemberOrder::LatticeThenPlacement) placed_ = GDScomposeTransf(a.transf, parent);
}

GDStransf ArrayMembers::member(int32_t i, int32_t j) const {
  const GDStransf o = GDSoffsetTransf(GDSidentity, GDSpoint{wrapMul32(i, a_.colspace), wrapMul32(j, a_.rowspace)});
  if (order_ == MemberOrder::LatticeThenPlacement) return GDScomposeTransf(o, placed_);
  return GDScomposeTransf(GDScomposeTransf(o, a_.transf), parent_);
}

namespace {

class Placer {
 public:
  Placer(const GDSlibrary& lib, const WalkPlan& plan, PlacedSink& sink)
      : lib_(lib), plan_(plan), sink_(sink), below_(plan.layer ? &layerBelow(lib, *plan.layer) : nullptr) {}

  // For a walk that places structures many times: each one's cells that
  // act are picked out once.
  void keepActingCells() {
    if (below_) spans_.assign(lib_.structs.size(), Span{});
  }

  // The cells of the structure the walk starts in, as stored.
  void top(const GDSstruct& s) {
    for (const GDScell& c : s.cells) {
      switch (c.kind) {
        case KIND_BOX:
          if (!plan_.boxes) break;
          [[fallthrough]];
        case KIND_BOUNDARY: {
          const GDSboundary& b = s.boundary(c);
          if (onLayer(b.layer)) sink_.boundary(b);
          break;
        }
        case KIND_PATH: {
          const GDSpath& p = s.path(c);
          if (onLayer(p.layer)) sink_.path(p);
          break;
        }
        case KIND_SREF: {
          const GDSsref& r = s.sref(c);
          if (plan_.composeTopRefs) {
            sref(r, GDSidentity);
          } else if (!skip(r.structptr)) {
            contents(r.structptr, r.transf);
          }
          break;
        }
        case KIND_AREF: aref(s.aref(c), GDSidentity); break;
        case KIND_TEXT: {
          const GDStext& t = s.text(c);
          if (onLayer(t.layer)) sink_.text(t, GDSidentity);
          break;
        }
        default: break;
      }
    }
  }

  void sref(const GDSsref& r, const GDStransf& parent) {
    if (skip(r.structptr)) return;
    contents(r.structptr, GDScomposeTransf(r.transf, parent));
  }

  void aref(const GDSaref& a, const GDStransf& parent) {
    if (skip(a.structptr)) return;
    const ArrayMembers members(a, parent, plan_.members);
    for (int32_t i = 0; i < a.cols; ++i)
      for (int32_t j = 0; j < a.rows; ++j) contents(a.structptr, members.member(i, j));
  }

 private:
  bool onLayer(int32_t layer) const { return !plan_.layer || layer == *plan_.layer; }

  bool skip(int32_t structptr) const {
    if (!below_) return false;
    return structptr < 0 || static_cast<std::size_t>(structptr) >= below_->size() ||
           !(*below_)[static_cast<std::size_t>(structptr)];
  }

  // The cells of a referenced structure placed by t.
  void contents(int32_t structptr, const GDStransf& t) {
    Descent d(lib_, structptr);
    const GDSstruct* s = d.target();
    if (!s) return;
    if (spans_.empty()) {
      for (const GDScell& c : s->cells) cell(*s, c, t);
      return;
    }
    const Span sp = span(structptr, *s);
    if (sp.state == Span::kAll) {
      for (const GDScell& c : s->cells) cell(*s, c, t);
      return;
    }
    // By index: a structure met below appends its own cells.
    for (uint32_t k = sp.begin; k < sp.end; ++k) cell(*s, GDScell(kept_[k]), t);
  }

  // Every cell of a placed structure goes through here.
  void cell(const GDSstruct& s, const GDScell& c, const GDStransf& t) {
    switch (c.kind) {
      case KIND_BOX:
        if (!plan_.boxes) break;
        [[fallthrough]];
      case KIND_BOUNDARY: {
        const GDSboundary& b = s.boundary(c);
        if (!onLayer(b.layer)) break;
        GDSboundary copy = b;
        copy.points = placePoints(b.points, b.npoints, t);
        sink_.boundary(copy);
        break;
      }
      case KIND_PATH: {
        const GDSpath& p = s.path(c);
        if (!onLayer(p.layer)) break;
        GDSpath copy = p;
        copy.points = placePoints(p.points, p.npoints, t);
        GDStransfPathWidths(copy, t);
        sink_.path(copy);
        break;
      }
      case KIND_SREF: sref(s.sref(c), t); break;
      case KIND_AREF: aref(s.aref(c), t); break;
      case KIND_TEXT: {
        const GDStext& x = s.text(c);
        if (onLayer(x.layer)) sink_.text(x, t);
        break;
      }
      default: break;
    }
  }

  // Whether cell() does anything for c: an element on the layer, or a
  // reference that is followed.
  bool acts(const GDSstruct& s, const GDScell& c) const {
    switch (c.kind) {
      case KIND_BOX:
        if (!plan_.boxes) return false;
        [[fallthrough]];
      case KIND_BOUNDARY: return onLayer(s.boundary(c).layer);
      case KIND_PATH: return onLayer(s.path(c).layer);
      case KIND_TEXT: return onLayer(s.text(c).layer);
      case KIND_SREF: return !skip(s.sref(c).structptr);
      case KIND_AREF: return !skip(s.aref(c).structptr);
      default: return false;
    }
  }

  // The cells of a structure that act in this walk, found on its first
  // placement: every cell, or a run of kept_.
  struct Span {
    enum : uint8_t { kUnknown, kAll, kSome };
    uint32_t begin = 0;
    uint32_t end = 0;
    uint8_t state = kUnknown;
  };
  Span span(int32_t idx, const GDSstruct& s) {
    Span& sp = spans_[static_cast<std::size_t>(idx)];
    if (sp.state != Span::kUnknown) return sp;
    const std::size_t begin = kept_.size();
    for (const GDScell& c : s.cells)
      if (acts(s, c)) kept_.push_back(c);
    if (kept_.size() - begin == s.cells.size() || kept_.size() > UINT32_MAX) {
      kept_.resize(begin);
      sp.state = Span::kAll;
    } else {
      sp.begin = static_cast<uint32_t>(begin);
      sp.end = static_cast<uint32_t>(kept_.size());
      sp.state = Span::kSome;
    }
    return sp;
  }

  // One transformed copy lives at a time: the sink is done with it before
  // the next one is made. The buffer only grows.
  GDSpoint* placePoints(const GDSpoint* p, int32_t n, const GDStransf& t) {
    if (n <= 0 || !p) return nullptr;
    if (points_.size() < static_cast<std::size_t>(n)) points_.resize(static_cast<std::size_t>(n));
    GDStransfPointsTo(p, n, points_.data(), t);
    return points_.data();
  }

  const GDSlibrary& lib_;
  const WalkPlan& plan_;
  PlacedSink& sink_;
  // With a layer: whether each structure holds something on it, below.
  const std::vector<uint8_t>* below_;
  std::vector<GDSpoint> points_;
  // A whole walk with a layer: the acting cells of each structure placed
  // (empty otherwise, and then every cell is looked at).
  std::vector<Span> spans_;
  std::vector<GDScell> kept_;
};

}  // namespace

void walkPlaced(const GDSlibrary& lib, const GDSstruct& top, const WalkPlan& plan, PlacedSink& sink) {
  TopDescent guard(lib, top);
  if (plan.layer && !hasLayerBelow(lib, top, *plan.layer)) return;
  Placer placer(lib, plan, sink);
  placer.keepActingCells();
  placer.top(top);
}

void walkPlacedSref(const GDSlibrary& lib, const GDSsref& r, const GDStransf& parent, const WalkPlan& plan,
                    PlacedSink& sink) {
  Placer(lib, plan, sink).sref(r, parent);
}

void walkPlacedAref(const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent, const WalkPlan& plan,
                    PlacedSink& sink) {
  Placer(lib, plan, sink).aref(a, parent);
}

const Walks& fastWalks() {
  static constexpr Walks walks{GDSbboxStruct, walkPlaced};
  return walks;
}

}  // namespace qm
