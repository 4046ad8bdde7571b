// Reading a whole library from a descriptor.
#pragma once

#include <memory>

#include "gds/model.h"

namespace qm {

struct ReadOptions {
  bool tolerant = false;  // accept the valid records the strict reader rejects
};

// Reads the whole library up to ENDLIB, writes result.txt, binds the
// references. Stops the program on every fatal input error.
std::unique_ptr<GDSlibrary> GDSreadLibrary(int fd, const ReadOptions& opt = {});

}  // namespace qm
