// What the fuzz targets and the replay of their findings agree on: the top
// structure chosen for a full run and the fixed layer configuration.
// Standard library only, so that the tests can include it too.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qmfuzz {

// The name of the last STRNAME record in the record chain, taken the way
// the reader takes names (at most 1024 bytes, cut at the first NUL);
// "TOP" when the chain holds none. The chain is followed from the first
// byte until a record is too short or runs past the end.
inline std::string TopName(std::string_view b) {
  std::string name = "TOP";
  std::size_t p = 0;
  while (p + 4 <= b.size()) {
    std::size_t len = (static_cast<std::size_t>(static_cast<uint8_t>(b[p])) << 8) | static_cast<uint8_t>(b[p + 1]);
    if (len < 4 || len > b.size() - p) break;
    if (static_cast<uint8_t>(b[p + 2]) == 6) {
      std::string_view d = b.substr(p + 4, std::min<std::size_t>(len - 4, 1024));
      name = std::string(d.substr(0, d.find('\0')));
    }
    p += len;
  }
  return name;
}

// The layer configuration of every full run: filled, single and cross
// hatched, datatype-specific, hidden and unnamed entries, and a name that
// needs escaping in every output format.
inline constexpr const char kRunConfig[] =
    "# layers of the fuzzed runs\n"
    "newlayer\n name poly gdsno 0 hidden no red 0.8 green 0.1 blue 0.1 depth 0.5 thickness 0.5\nendlayer\n"
    "newlayer\n name M1 gdsno 1 hidden no fill yes red 0.1 green 0.1 blue 0.9 depth 1 thickness 0.3\nendlayer\n"
    "newlayer\n name M2 gdsno 2 datatype 0 hidden no hatch single angle 30 step 50 depth 2 thickness 0.4\n"
    "endlayer\n"
    "newlayer\n name v(i)a\\2 gdsno 2 datatype 1 hidden no hatch cross angle 135 step 20 depth 3 thickness 1\n"
    "endlayer\n"
    "newlayer\n name hid gdsno 3 hidden yes\nendlayer\n"
    "newlayer\n gdsno 10 hidden no fill yes hatch cross angle 60 step 200 red 1 green 1 blue 0\nendlayer\n";

}  // namespace qmfuzz
