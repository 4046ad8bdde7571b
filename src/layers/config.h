// The layer configuration: its parser, the layer table and the lookup.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/out.h"

namespace qm {

struct LayerEntry {
  std::string name;
  bool hasName = false;
  int32_t gdsno = 0;
  int32_t datatype = 0;
  int32_t hasDatatype = 0;
  int32_t hidden = 0;
  double red = 0;
  double blue = 0;
  double green = 0;
  int32_t fill = 0;
  int32_t hatch = 0;
  double angle = 0;
  double step = 0;
  double thickness = 0;
  double depth = 0;
};

// The table of one run: entry 0 is the hidden fallback, entries 1 to
// layerCount-1 the file's blocks in file order. Filled by the PostScript
// writer, read by the writers after it.
class LayerTable {
 public:
  static constexpr int kCapacity = 1024;
  int layerCount = 0;
  std::vector<LayerEntry> entries;  // kCapacity slots, zero-filled

  LayerTable();
  const LayerEntry& operator[](int i) const { return entries[static_cast<std::size_t>(i)]; }
  // Index of the entry for (layer, datatype); 0 with the warning on
  // standard error when the file does not configure the layer (printed
  // again at every such call).
  int FindLayerEntry(const Console& con, int32_t layer, int32_t datatype) const;
  // The plain scan, without warning or memory: the first entry with the
  // layer and datatype wins, else the last entry of the layer without a
  // datatype, else -1.
  int ScanLayerEntry(int32_t layer, int32_t datatype) const;
  // Lookups are remembered per (layer, datatype) while layerCount stays the
  // same. Code that changes entries after a lookup must call this.
  void ClearLookupCache() const {
    lookupCache_.clear();
    cacheCount_ = -1;
  }

 private:
  mutable std::unordered_map<uint64_t, int> lookupCache_;
  mutable int cacheCount_ = -1;
};

// Reads the whole stream into the table and returns the entry count.
// Stops the program on a syntax error.
int ReadLayerConfig(const Console& con, std::FILE* in, LayerTable& table);

}  // namespace qm
