// Fuzz target: the layer configuration parser and what the writers derive
// from a single entry (pattern font, texture identifier, fill type). Every
// input must end in a consistent table or in a fatal error with status 1,
// and the remembered lookup must agree with the plain scan.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/out.h"
#include "tests/plain_walks.h"
#include "fuzz/harness.h"
#include "layers/config.h"
#include "pov/pov.h"
#include "ps/ps.h"

namespace {

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "layer table broken: %s\n", what);
  std::abort();
}

struct File {
  std::FILE* f;
  ~File() {
    if (f) std::fclose(f);
  }
};

int32_t next(int32_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v) + 1u); }

// Lookups of every configured key and its neighbours, both ways.
void checkLookups(const qm::Console& con, const qm::LayerTable& t) {
  std::vector<std::pair<int32_t, int32_t>> keys{{-1, 0}, {0, 0}, {1, 1}, {INT32_MIN, INT32_MAX}};
  for (int i = 0; i < t.layerCount && keys.size() < 200; ++i) {
    const auto& e = t[i];
    keys.push_back({e.gdsno, e.datatype});
    keys.push_back({e.gdsno, next(e.datatype)});
    keys.push_back({next(e.gdsno), e.datatype});
  }
  std::vector<int> fast;
  for (auto [l, d] : keys) fast.push_back(t.FindLayerEntry(con, l, d));
  for (std::size_t k = 0; k < keys.size(); ++k)  // remembered answers
    if (t.FindLayerEntry(con, keys[k].first, keys[k].second) != fast[k]) broken("lookup changed on repetition");
  for (std::size_t k = 0; k < keys.size(); ++k) {
    int plain = plainwalks::findLayerEntry(con, t, keys[k].first, keys[k].second);
    if (plain != fast[k]) broken("remembered lookup differs from the plain scan");
    if (plain < 0 || plain >= t.layerCount) broken("lookup out of the table");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  qmfuzz::Harness::get();
  std::string text(reinterpret_cast<const char*>(data), size);
  File in{::fmemopen(text.data(), size, "r")};
  if (!in.f) qmfuzz::Harness::die("fmemopen");
  qm::CaptureStd cap;
  qm::LayerTable table;
  try {
    int n = qm::ReadLayerConfig(cap.console(), in.f, table);
    if (n < 1 || n > qm::LayerTable::kCapacity || n != table.layerCount) broken("entry count");
    if (table[0].gdsno != -1 || !table[0].hidden) broken("entry 0");
    checkLookups(cap.console(), table);
    qm::Out mem{qm::Out::Memory{}};
    for (int i = 1; i < n; ++i) {
      const auto& e = table[i];
      if (!e.hasName) broken("entry without a name");
      if (!(e.angle >= 0 && e.angle <= 180) && !std::isnan(e.angle)) broken("angle not normalised");
      (void)qm::PSfontName(e.name);
      (void)qm::POVtextureName(table, i);
    }
    for (int i = 1; i < n; ++i) qm::PSwriteHatch(mem, table[i]);  // may stop on a level hatch
  } catch (const qm::Failure& f) {
    qmfuzz::checkFatal(f);
  }
  return 0;
}
