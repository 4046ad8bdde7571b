// The writer sequence.
#pragma once

#include <string>

#include "gds/model.h"

namespace qm {

class Progress;

void RunWriters(const GDSlibrary& lib, const std::string& top, const std::string& configPath,
                const std::string& psPath, const std::string& povPath, const std::string& hpglPath,
                Progress* progress = nullptr);

}  // namespace qm
