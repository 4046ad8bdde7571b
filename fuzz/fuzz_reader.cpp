// Fuzz target: the record stream and the library reader, strict and
// tolerant, and the plain way of reading, on the same bytes. Every input
// must end in a library whose indices all hold, or in a fatal error with
// status 1; a library that the strict reader takes whole is read by the
// tolerant reader to the same bytes (echo, messages, listing); and the
// plain read gives the strict read's bytes on every input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/out.h"
#include "fuzz/harness.h"
#include "gds/model.h"
#include "gds/reader.h"

namespace {

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "library model broken: %s\n", what);
  std::abort();
}

void checkRef(const qm::GDSlibrary& lib, int32_t structptr, int32_t sname) {
  if (sname < 0 || static_cast<std::size_t>(sname) >= lib.names.size()) broken("sname index");
  if (structptr < -1 || structptr >= static_cast<int32_t>(lib.structs.size())) broken("structptr");
  int32_t found = lib.indexOf(lib.name(sname));
  if (found != structptr) broken("reference bound to the wrong structure");
}

void checkLibrary(const qm::Console& con, const qm::GDSlibrary& lib) {
  for (const auto& s : lib.structs) {
    for (const auto& c : s.cells) {
      switch (c.kind) {
        case qm::KIND_BOUNDARY:
        case qm::KIND_BOX: {
          if (c.idx >= s.boundaries.size()) broken("boundary index");
          const auto& b = s.boundary(c);
          if (b.npoints < 0 || (b.npoints > 0 && !b.points)) broken("boundary points");
          for (int32_t i = 0; i < b.npoints; ++i) (void)b.points[i].x;  // every point readable
          break;
        }
        case qm::KIND_PATH: {
          if (c.idx >= s.paths.size()) broken("path index");
          const auto& p = s.path(c);
          if (p.npoints < 0 || (p.npoints > 0 && !p.points)) broken("path points");
          if (p.pathtype != 0 && p.pathtype != 2) broken("path type");
          for (int32_t i = 0; i < p.npoints; ++i) (void)p.points[i].y;
          break;
        }
        case qm::KIND_SREF:
          if (c.idx >= s.srefs.size()) broken("sref index");
          checkRef(lib, s.sref(c).structptr, s.sref(c).sname);
          break;
        case qm::KIND_AREF: {
          if (c.idx >= s.arefs.size()) broken("aref index");
          const auto& a = s.aref(c);
          checkRef(lib, a.structptr, a.sname);
          if (a.cols == 0 || a.rows == 0) broken("aref without members");
          break;
        }
        case qm::KIND_TEXT:
          if (c.idx >= s.texts.size()) broken("text index");
          if (s.text(c).string.size() > 1024) broken("text longer than 1024 bytes");
          break;
        default:
          broken("cell kind");
      }
    }
    if (s.strname.size() > 1024) broken("name longer than 1024 bytes");
  }
  // The lookup the writers use: every structure is found, by its first
  // occurrence in list order.
  for (std::size_t i = 0; i < lib.structs.size(); ++i) {
    int32_t k = lib.indexOf(lib.structs[i].strname);
    if (k < 0 || static_cast<std::size_t>(k) > i || lib.structs[static_cast<std::size_t>(k)].strname != lib.structs[i].strname)
      broken("indexOf");
    const qm::GDSstruct* f = qm::GDSfindStruct(con, lib, lib.structs[i].strname);
    if (f != &lib.structs[static_cast<std::size_t>(k)]) broken("GDSfindStruct");
  }
  if (qm::GDSfindStruct(con, lib, std::string_view("\x01no such structure", 18)) != nullptr &&
      lib.indexOf(std::string_view("\x01no such structure", 18)) < 0)
    broken("GDSfindStruct of a missing name");
}

}  // namespace

namespace {

struct Outcome {
  int status = 0;
  std::string out, err, listing;
};


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  auto& h = qmfuzz::Harness::get();
  Outcome res[2], plain;
  for (int run = 0; run < 3; ++run) {
    const bool tolerant = run == 1;
    Outcome& o = run < 2 ? res[tolerant] : plain;
    int fd = h.feed(data, size);
    qm::Out listing{qm::Out::Memory{}};
    {
      qm::CaptureStd cap;
      try {
        qm::ReadOptions opt;
        opt.tolerant = tolerant;
        opt.plain = run == 2;
        auto lib = qm::GDSreadLibrary(cap.console(), fd, listing, opt);
        if (!lib) broken("no library and no fatal error");
        checkLibrary(cap.console(), *lib);
      } catch (const qm::Failure& f) {
        qmfuzz::checkFatal(f);
        o.status = f.status;
      }
      o.out = cap.out();
      o.err = cap.err();
    }
    o.listing = listing.str();
  }
  // The plain way of reading gives the strict read's bytes, whatever the
  // input and wherever it fails.
  if (plain.status != res[0].status || plain.out != res[0].out || plain.err != res[0].err ||
      plain.listing != res[0].listing) {
    std::fprintf(stderr, "the plain read differs from the fast one\n");
    std::abort();
  }
  // What the strict reader reads whole, the tolerant reader reads the same
  // way, to the byte.
  const Outcome& strict = res[0];
  const Outcome& tolerant = res[1];
  if (strict.status == 0 && strict.err.find("NOT YET IMPLEMENTED") == std::string::npos &&
      (tolerant.status != 0 || tolerant.out != strict.out || tolerant.err != strict.err ||
       tolerant.listing != strict.listing)) {
    std::fprintf(stderr, "the tolerant reader reads a valid library differently\n"
                         "strict err:\n%s\ntolerant err:\n%s\n",
                 strict.err.substr(0, 500).c_str(), tolerant.err.substr(0, 500).c_str());
    std::abort();
  }
  return 0;
}
