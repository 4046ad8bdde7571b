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
};

// Puts the top structure of a walk on the descent path.
class TopDescent {
 public:
  TopDescent(const GDSlibrary& lib, const GDSstruct& top);
  ~TopDescent();

 private:
  const GDSlibrary& lib_;
  int32_t idx_;
};

// True when layer `layer` is used by a boundary, path or text of the
// structure or of any structure below it.
bool hasLayerBelow(const GDSlibrary& lib, int32_t structIdx, int32_t layer);
bool hasLayerBelow(const GDSlibrary& lib, const GDSstruct& s, int32_t layer);

}  // namespace qm
