// Reading a whole library from a descriptor.
#pragma once

#include <memory>

#include "gds/model.h"

namespace qm {

class Progress;

struct ReadOptions {
  bool tolerant = false;  // accept the valid records the strict reader rejects
  Progress* progress = nullptr;  // hears how much of the input has been read
};

// Reads the whole library up to ENDLIB, writes result.txt, binds the
// references. Stops the program on every fatal input error. A
// gzip-compressed input is read as the library it holds.
std::unique_ptr<GDSlibrary> GDSreadLibrary(int fd, const ReadOptions& opt = {});

}  // namespace qm
