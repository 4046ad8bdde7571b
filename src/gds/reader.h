// Reading a whole library from a descriptor.
#pragma once

#include <memory>
#include <string>

#include "common/out.h"
#include "gds/model.h"

namespace qm {

class Progress;

struct ReadOptions {
  bool tolerant = false;  // accept the valid records the strict reader rejects
  Progress* progress = nullptr;  // hears how much of the input has been read
  // The reference way of reading, which the tests compare the fast one
  // with: memory grown as the elements come, not sized ahead from the
  // input's length, and the echo formatted on the reading thread.
  bool plain = false;
};

// Reads the whole library up to ENDLIB, writing each structure's listing
// entry to `listing` as soon as the structure is complete, then binds the
// references. Throws Failure on every fatal input error. A gzip-compressed
// input is read as the library it holds.
std::unique_ptr<GDSlibrary> GDSreadLibrary(const Console& con, int fd, Out& listing, const ReadOptions& opt = {});
// The same with the listing written to the file `listingPath` (the program
// names "result.txt"), created or truncated before anything is read and
// closed once every structure is listed: "Couldn't open %s for writing\n"
// and "Couldn't write %s\n" when that fails.
std::unique_ptr<GDSlibrary> GDSreadLibrary(const Console& con, int fd, const std::string& listingPath, const ReadOptions& opt = {});

}  // namespace qm
