// The in-memory library: structures, their layer buckets and their cells.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/bigmem.h"
#include "common/out.h"
#include "gds/transf.h"

namespace qm {

// Cell kinds are the record types that open the elements.
enum : int32_t {
  KIND_BOUNDARY = 8,
  KIND_PATH = 9,
  KIND_SREF = 10,
  KIND_AREF = 11,
  KIND_TEXT = 12,
  KIND_NODE = 21,
  KIND_BOX = 45,
};

// A layer bucket of a structure, keyed by (layer, datatype). For texts the
// text type serves as the datatype.
struct GDSlayer {
  int32_t layer = 0;
  int32_t datatype = 0;
};

// Boundary payload. The layer and datatype are those of its bucket.
// Points are owned by the library's point arena (or, for a temporary
// transformed copy or an outline, by the operation that made it).
// A BOX element (tolerant reading) is one too: drawn and measured like a
// boundary on the bucket (layer, boxtype). Sixteen bytes: a flat library
// holds millions.
struct GDSboundary {
  int16_t layer = 0;
  int16_t datatype = 0;
  int32_t npoints = 0;
  GDSpoint* points = nullptr;
};

struct GDSpath {
  int32_t layer = 0;
  int32_t datatype = 0;
  int32_t pathtype = 0;  // 0 butt, 2 extended (every other value is stored as one of these)
  int32_t width = 0;
  int32_t npoints = 0;
  GDSpoint* points = nullptr;
  // Custom end extensions (tolerant reading of type 4 wires only).
  bool hasExtensions = false;
  int32_t bgnextn = 0;
  int32_t endextn = 0;
};

struct GDSsref {
  int32_t structptr = -1;  // index into GDSlibrary::structs, -1 when unbound
  int32_t sname = 0;       // index into GDSlibrary::names
  GDStransf transf{};
};

struct GDSaref {
  int32_t structptr = -1;
  int32_t sname = 0;
  int32_t cols = 0;
  int32_t rows = 0;
  int32_t colspace = 0;
  int32_t rowspace = 0;
  GDStransf transf{};
};

struct GDStext {
  int32_t layer = 0;
  int32_t datatype = 0;  // the text type
  int32_t hjust = 0;
  int32_t vjust = 0;
  int32_t font = 0;
  std::string string;
  GDStransf transf{};
  double mag = 1.0;
};

// One element: its kind and the index of its payload in the structure's
// vector of that kind.
struct GDScell {
  int32_t kind = 0;
  uint32_t idx = 0;
};

// Storage for the element vectors of a library's structures: many small
// vectors carved from large blocks that the kernel backs with huge pages,
// so that a library of millions of small structures costs a few page
// faults instead of one per 4 KiB. Vectors of a megabyte and more get a
// block of their own, given back when the vector lets it go. Small pieces
// are never given back before the store goes: its users size them exactly.
// Used by one thread at a time.
class ElementStore : public std::pmr::memory_resource {
 public:
  ElementStore() = default;
  ElementStore(const ElementStore&) = delete;
  ElementStore& operator=(const ElementStore&) = delete;
  // While a library is read, a thread that fills fresh pages ahead of the
  // pieces handed out; null when there is none.
  void prefaultWith(Prefaulter* pf) { pf_ = pf; }

 private:
  void* do_allocate(std::size_t bytes, std::size_t align) override;
  void do_deallocate(void* p, std::size_t bytes, std::size_t align) override;
  bool do_is_equal(const std::pmr::memory_resource& o) const noexcept override { return this == &o; }

  static constexpr std::size_t kLarge = std::size_t{1} << 20;
  static constexpr std::size_t kFirstChunk = std::size_t{64} << 10;
  static constexpr std::size_t kChunk = std::size_t{32} << 20;
  // The blocks small pieces are carved from: the first few from the heap,
  // then from the kernel.
  std::vector<std::unique_ptr<std::max_align_t[]>> small_;
  std::vector<BigBlock> chunks_;
  std::unordered_map<void*, BigBlock> large_;
  char* chunkStart_ = nullptr;
  char* cur_ = nullptr;
  std::size_t left_ = 0;
  Prefaulter* pf_ = nullptr;
  FillAhead ahead_;
};

struct GDSstruct {
  // Element vectors allocate from the library's store when the reader made
  // them, from the heap otherwise.
  template <class T>
  using Elements = std::pmr::vector<T>;

  GDSstruct() = default;
  explicit GDSstruct(std::pmr::memory_resource* store)
      : cells(store), boundaries(store), paths(store), srefs(store), arefs(store), texts(store) {}

  std::string strname;
  std::vector<GDSlayer> layers;  // reverse order of first appearance
  Elements<GDScell> cells;       // reverse file order
  Elements<GDSboundary> boundaries;
  Elements<GDSpath> paths;
  Elements<GDSsref> srefs;
  Elements<GDSaref> arefs;
  Elements<GDStext> texts;

  const GDSboundary& boundary(const GDScell& c) const { return boundaries[c.idx]; }
  const GDSpath& path(const GDScell& c) const { return paths[c.idx]; }
  const GDSsref& sref(const GDScell& c) const { return srefs[c.idx]; }
  const GDSaref& aref(const GDScell& c) const { return arefs[c.idx]; }
  const GDStext& text(const GDScell& c) const { return texts[c.idx]; }
};

// Storage for the point lists of all elements: large chunks, so that the
// model never copies points while it grows.
class PointArena {
 public:
  GDSpoint* alloc(std::size_t n);
  // Makes room for `n` points in one block ahead of their allocation (the
  // reader knows an upper bound from the input's length), when the address
  // space can be had. The block is address space only: pages the points
  // never reach cost nothing.
  void reserve(std::size_t n);
  // While a library is read, a thread that fills fresh pages ahead of the
  // points; null when there is none.
  void prefaultWith(Prefaulter* pf) { pf_ = pf; }

 private:
  GDSpoint* block(std::size_t n);
  static constexpr std::size_t kChunk = 1 << 20;
  static constexpr std::size_t kFirstChunk = 1 << 10;  // chunks double up to kChunk
  std::vector<std::unique_ptr<GDSpoint[]>> chunks_;  // blocks below a huge page
  std::vector<BigBlock> blocks_;                     // the others, from the kernel
  GDSpoint* cur_ = nullptr;  // the chunk being filled
  std::size_t used_ = 0;
  std::size_t cap_ = 0;  // points in the current chunk
  Prefaulter* pf_ = nullptr;
  FillAhead ahead_;
};

struct GDSlibrary {
  // Where the reader puts the structures' elements. Held by pointer: the
  // structures keep pointing at it while the library moves.
  std::unique_ptr<ElementStore> store;
  std::string libname;
  std::string lastmod;
  std::string lastacc;
  double userunit = 0.001;
  double meterunit = 1e-9;
  std::vector<GDSstruct> structs;  // reverse file order
  std::vector<std::string> names;  // reference names (interned)
  PointArena arena;

  const std::string& name(int32_t idx) const { return names[static_cast<std::size_t>(idx)]; }
  // Index of the first structure in `structs` order with this name, or -1.
  // No echo.
  int32_t indexOf(std::string_view name) const;
  // Builds the name index; called once after reading.
  void buildIndex();

  // Echo bytes of a GDSfindStruct call that ends at structs[i] (or passes
  // every structure when i is -1): "\"name\"\n" for each structure passed.
  std::string_view findEcho(int32_t i) const;

  // Caches of the hierarchy walks (descent path, layers below each
  // structure, memoised extents), one per thread walking the library: the
  // writers of a run may walk it at the same time. Defined by the walks.
  struct WalkCache;
  class WalkCaches {
   public:
    static constexpr int kSlots = 16;
    WalkCaches() = default;
    // A copied library starts without caches.
    WalkCaches(const WalkCaches&) {}
    WalkCaches& operator=(const WalkCaches&) {
      clear();
      return *this;
    }
    // The calling thread's cache, null when it has none yet. Threads that
    // entered have one each; every other thread shares one.
    WalkCache* mine() const {
      if (entered_.load(std::memory_order_acquire) != 0) {
        const std::thread::id me = std::this_thread::get_id();
        for (int k = 0; k < kSlots; ++k)
          if (owner_[k].load(std::memory_order_acquire) == me) return cache_[k].get();
      }
      return shared_.get();
    }
    // Makes `c` the calling thread's cache.
    void set(std::shared_ptr<WalkCache> c) const;
    // A thread that walks the library while others do enters first and
    // leaves when it is done.
    void enter() const;
    void leave() const;
    // Drops every cache; only while no other thread walks the library.
    void clear() const;

   private:
    mutable std::atomic<int> entered_{0};
    mutable std::atomic<std::thread::id> owner_[kSlots]{};
    mutable std::shared_ptr<WalkCache> cache_[kSlots];
    mutable std::shared_ptr<WalkCache> shared_;
  };
  WalkCaches walkCaches;

 private:
  std::unordered_map<std::string_view, int32_t> index_;
  mutable std::string echo_;
  mutable std::vector<std::size_t> echoEnd_;
};

// Finds the structure of that name, echoing on standard output the name of
// every structure it passes, the found one included. Null when none.
const GDSstruct* GDSfindStruct(const Console& con, const GDSlibrary& lib, std::string_view name);

}  // namespace qm

