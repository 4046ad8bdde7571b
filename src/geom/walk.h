// The hierarchy walk and what every walk through references shares: a
// reference whose name matches no structure is a structure with nothing in
// it; a reference to a structure already on the walk's own descent path is
// a fatal cycle. And the set of layers present in a structure and below it,
// to prune passes.
#pragma once

#include <optional>
#include <vector>

#include "gds/model.h"
#include "geom/extent.h"

namespace qm {

// Guards one descent into a referenced structure. target() is null for an
// unbound reference (nothing to walk). Constructing it for a structure that
// is already on the descent path prints
// "Cyclic reference to structure \"%s\". Aborting\n" and exits 1.
class Descent {
 public:
  Descent(const GDSlibrary& lib, int32_t structptr);
  ~Descent();
  Descent(const Descent&) = delete;
  Descent& operator=(const Descent&) = delete;
  const GDSstruct* target() const { return s_; }

 private:
  const GDSlibrary& lib_;
  int32_t idx_;
  const GDSstruct* s_;
  uint32_t prev_ = 0;
};

// Starts a walk: a fresh descent path holding the top structure. Walks may
// nest (a walk started inside another has a path of its own).
class TopDescent {
 public:
  TopDescent(const GDSlibrary& lib, const GDSstruct& top);
  ~TopDescent();
  TopDescent(const TopDescent&) = delete;
  TopDescent& operator=(const TopDescent&) = delete;

 private:
  const GDSlibrary& lib_;
  int32_t idx_;
  uint32_t prev_ = 0;
};

// True when layer `layer` is used by a boundary, path or text of the
// structure or of any structure below it (through bound references and
// arrays with members). Also true when a cycle is reachable from the
// structure, so that a pass pruned with it still meets the cycle.
bool hasLayerBelow(const GDSlibrary& lib, int32_t structIdx, int32_t layer);
bool hasLayerBelow(const GDSlibrary& lib, const GDSstruct& s, int32_t layer);

// True when a walk from the structure meets a cycle (a structure that
// references itself, directly or through others).
bool reachesCycle(const GDSlibrary& lib, int32_t structIdx);
bool reachesCycle(const GDSlibrary& lib, const GDSstruct& s);

// Index of s in lib.structs, or -1 when s is not one of them.
int32_t structIndex(const GDSlibrary& lib, const GDSstruct& s);

// The walks cache what they learn about a library (reference graph, layers
// below, extents) on its first walk: a library changed afterwards needs
// this before its next walk.
void resetWalkCache(const GDSlibrary& lib);

// ---- the walk of placed elements ----
//
// Follows a structure through all its references down to the leaves and
// hands every element to a sink with its placement: boundaries and paths
// of the structure the walk starts in as they are stored, those below a
// reference as transformed copies (points through the accumulated
// transform, a wire's width scaled by its magnification), texts with the
// transform of the structure they stand in. Cells are visited in list
// order, array members column by column, and a reference's own transform
// acts before its parent's.

// How the transform of array member (i, j) is put together from the
// lattice translation o = GDSoffsetTransf(GDSidentity, (i*colspace,
// j*rowspace)) (32-bit products), the array's own transform R and the
// transform P the array stands under. Both give the same mapping; they
// differ in rounding, and each writer keeps its own.
enum class MemberOrder {
  LatticeThenPlacement,  // GDScomposeTransf(o, GDScomposeTransf(R, P))
  OwnThenParent,         // GDScomposeTransf(GDScomposeTransf(o, R), P)
};

struct WalkPlan {
  MemberOrder members = MemberOrder::LatticeThenPlacement;
  // A reference standing in the structure the walk starts in: its own
  // transform composed with the identity, or its own transform as it is.
  bool composeTopRefs = true;
  // BOX cells are placed like boundaries.
  bool boxes = false;
  // When set, only what can draw on this layer is visited: elements on
  // other layers are left out before they are copied, and references
  // whose structure holds nothing on the layer (hasLayerBelow), or no
  // structure at all, are not followed.
  std::optional<int32_t> layer;
};

// What a walk hands its placed elements to. A sink may be handed elements
// of layers other than the one it draws (a walk without a layer does so),
// and then draws nothing for them.
class PlacedSink {
 public:
  virtual void boundary(const GDSboundary& b) = 0;
  virtual void path(const GDSpath& p) = 0;
  virtual void text(const GDStext& t, const GDStransf& parent) = 0;

 protected:
  ~PlacedSink() = default;
};

// Walks structure `top` (a descent path of its own, with top on it).
void walkPlaced(const GDSlibrary& lib, const GDSstruct& top, const WalkPlan& plan, PlacedSink& sink);
// Walks one reference placed under `parent`.
void walkPlacedSref(const GDSlibrary& lib, const GDSsref& r, const GDStransf& parent, const WalkPlan& plan,
                    PlacedSink& sink);
void walkPlacedAref(const GDSlibrary& lib, const GDSaref& a, const GDStransf& parent, const WalkPlan& plan,
                    PlacedSink& sink);

// The transforms of the members of one array placed under a parent, in
// the order given.
class ArrayMembers {
 public:
  ArrayMembers(const GDSaref& a, const GDStransf& parent, MemberOrder order);
  GDStransf member(int32_t i, int32_t j) const;

 private:
  const GDSaref& a_;
  const GDStransf& parent_;
  MemberOrder order_;
  GDStransf placed_;  // R composed with P, for LatticeThenPlacement
};

// The walks a writer runs: the extent of the structure it draws (printing
// its line, as GDSbboxStruct does) and the placed elements of a pass.
// Writers run the library's own (fastWalks()); tests hand in reference
// walks to compare with.
struct Walks {
  GDSbbox (*extent)(const Console& con, const GDSlibrary& lib, const GDSstruct& s);
  void (*place)(const GDSlibrary& lib, const GDSstruct& top, const WalkPlan& plan, PlacedSink& sink);
};
const Walks& fastWalks();

}  // namespace qm
