// layergen --lyp: a layer configuration from a KLayout layer-properties file.
#pragma once

#include <string>
#include <vector>

namespace layergen {

struct LypRequest {
  std::string lypPath;    // the layer-properties file
  std::string stackPath;  // optional table of LAYER/DATATYPE depth thickness
};

// What a run produced: the whole configuration text, or the reason it failed.
// Warnings are worth telling but do not stop the run.
struct LypOutcome {
  bool ok = false;
  std::string text;
  std::string error;
  std::vector<std::string> warnings;
};

LypOutcome configFromLyp(const LypRequest& req);

}  // namespace layergen
