// What every walk through references shares: a reference whose name matches
// no structure is a structure with nothing in it; a reference to a structure
// already on the walk's own descent path is a fatal cycle. And the set of
// layers present in a structure and below it, to prune passes.
#pragma once

#include <vector>

#include "gds/model.h"

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

}  // namespace qm
