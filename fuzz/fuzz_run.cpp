// Fuzz target: the whole run with a top structure: the library read
// tolerantly, then the PostScript, POV-Ray, HPGL and SVG writers with a
// fixed layer configuration; every SVG of a run that ends normally must be
// well-formed XML. The top structure is the last STRNAME of the input.
// Each input runs twice, with the fast walks and with the plain walks, and
// both runs must give the same bytes on every channel and file and end the
// same way (normally or with status 1).
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "common/out.h"
#include "tests/plain_walks.h"
#include "fuzz/fuzz_inputs.h"
#include "fuzz/harness.h"
#include "gds/model.h"
#include "gds/reader.h"
#include "main/run.h"

namespace {

// In the harness's private folder.
constexpr const char* kConfig = "run.layers.config";
constexpr int kNumFiles = 4;
constexpr const char* kFiles[kNumFiles] = {"fuzz.ps", "fuzz.pov", "fuzz.plt", "fuzz.svg"};
std::string at(const char* name) { return qmfuzz::Harness::get().file(name); }

// Inputs whose drawing is larger than this many points (of every element
// instance, references counting one each) are skipped: the writers are
// linear in it, and an input of a few bytes can ask for billions (the
// limit tests cover those).
constexpr double kMaxWork = 200000;

struct Outcome {
  bool skipped = false;
  bool topFound = false;
  int status = 0;
  std::string out, err;
  std::string files[kNumFiles];
  bool exists[kNumFiles] = {false, false, false, false};
};

std::string slurp(const char* path, bool& exists) {
  std::ifstream f(path, std::ios::binary);
  exists = static_cast<bool>(f);
  if (!exists) return {};
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Points drawn below structure i, over all instances; a reference back
// onto the descent path counts nothing (the writers stop on it), an
// unbound one counts one.
double work(const qm::GDSlibrary& lib, int32_t i, std::vector<double>& memo, std::vector<char>& onPath) {
  auto k = static_cast<std::size_t>(i);
  if (onPath[k]) return 0;
  if (memo[k] >= 0) return memo[k];
  onPath[k] = 1;
  const qm::GDSstruct& s = lib.structs[k];
  double n = static_cast<double>(s.texts.size());
  for (const auto& b : s.boundaries) n += 1 + std::max(b.npoints, 0);
  for (const auto& p : s.paths) n += 1 + 4.0 * std::max(p.npoints, 0);  // the outline has about four per point
  for (const auto& r : s.srefs) n += 1 + (r.structptr >= 0 ? work(lib, r.structptr, memo, onPath) : 0);
  for (const auto& a : s.arefs) {
    double members = a.cols > 0 && a.rows > 0 ? static_cast<double>(a.cols) * a.rows : 0;
    n += 1 + members * (1 + (a.structptr >= 0 ? work(lib, a.structptr, memo, onPath) : 0));
  }
  onPath[k] = 0;
  memo[k] = n;
  return n;
}

Outcome runOnce(const uint8_t* data, std::size_t size, const std::string& top, bool plain) {
  Outcome o;
  for (const char* f : kFiles) ::unlink(at(f).c_str());
  int fd = qmfuzz::Harness::get().feed(data, size);
  {
    qm::CaptureStd cap;
    try {
      qm::ReadOptions opt;
      opt.tolerant = true;
      qm::Out listing{qm::Out::Memory{}};
      auto lib = qm::GDSreadLibrary(cap.console(), fd, listing, opt);
      if (!lib) std::abort();
      int32_t t = lib->indexOf(top);
      o.topFound = t >= 0;
      if (t >= 0) {
        std::vector<double> memo(lib->structs.size(), -1);
        std::vector<char> onPath(lib->structs.size(), 0);
        if (work(*lib, t, memo, onPath) > kMaxWork) o.skipped = true;
      }
      if (!o.skipped) {
        if (plain) {
          // The reference walks know the three drawings of the sequence only.
          plainwalks::runWriters(cap.console(), *lib, top, at(kConfig), at(kFiles[0]), at(kFiles[1]), at(kFiles[2]));
        } else {
          qm::WriterChoice all;
          all.svg = true;
          all.svgPath = at(kFiles[3]);
          qm::RunWriters(cap.console(), *lib, top, at(kConfig), at(kFiles[0]), at(kFiles[1]), at(kFiles[2]), all);
        }
      }
    } catch (const qm::Failure& f) {
      qmfuzz::checkFatal(f);
      o.status = f.status;
    }
    o.out = cap.out();
    o.err = cap.err();
  }
  for (int i = 0; i < kNumFiles; ++i) o.files[i] = slurp(at(kFiles[i]).c_str(), o.exists[i]);
  return o;
}

void compare(const char* what, const std::string& fast, const std::string& plain) {
  if (fast == plain) return;
  std::size_t i = 0;
  while (i < fast.size() && i < plain.size() && fast[i] == plain[i]) ++i;
  std::size_t from = i > 40 ? i - 40 : 0;
  std::fprintf(stderr, "fast and plain walks differ in %s at byte %zu\nfast:  ...%s\nplain: ...%s\n", what, i,
               fast.substr(from, 120).c_str(), plain.substr(from, 120).c_str());
  std::abort();
}

struct Job {
  const uint8_t* data;
  std::size_t size;
};

void* runJob(void* p) {
  auto* j = static_cast<Job*>(p);
  std::string top = qmfuzz::TopName(std::string_view(reinterpret_cast<const char*>(j->data), j->size));
  Outcome fast = runOnce(j->data, j->size, top, false);
  if (fast.skipped) return nullptr;
  Outcome plain = runOnce(j->data, j->size, top, true);
  if (fast.status != plain.status) {
    std::fprintf(stderr, "fast walks end with %d, plain walks with %d\n", fast.status, plain.status);
    std::abort();
  }
  // The fast run also writes the SVG drawing last: what the three drawings
  // of the sequence print comes first, and must be the same.
  compare("standard output", fast.out.substr(0, plain.out.size()), plain.out);
  compare("standard error", fast.err.substr(0, plain.err.size()), plain.err);
  for (int i = 0; i < 3; ++i) {
    if (fast.exists[i] != plain.exists[i]) {
      std::fprintf(stderr, "%s written by one walk only\n", kFiles[i]);
      std::abort();
    }
    compare(kFiles[i], fast.files[i], plain.files[i]);
  }
  // A run that ended normally and found its top structure wrote the page
  // and the plot to their ends.
  if (fast.status == 0 && fast.topFound) {
    if (fast.exists[0] && fast.files[0].find("showpage\n") == std::string::npos) {
      std::fprintf(stderr, "a normal run left a PostScript page without showpage\n");
      std::abort();
    }
    if (fast.exists[2] && fast.files[2].find("PUSP0PG;\n") == std::string::npos) {
      std::fprintf(stderr, "a normal run left a plot without its trailer\n");
      std::abort();
    }
  }
  // A run that ended normally wrote a well-formed SVG document, found top
  // structure or not.
  if (fast.status == 0 && fast.exists[3]) {
    pugi::xml_document doc;
    const std::string& svg = fast.files[3];
    pugi::xml_parse_result res = doc.load_buffer(svg.data(), svg.size(), pugi::parse_default, pugi::encoding_utf8);
    if (!res || !doc.child("svg")) {
      std::fprintf(stderr, "the SVG drawing is not well-formed: %s at byte %td\n", res.description(), res.offset);
      std::abort();
    }
  }
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qmfuzz::Harness::get();
  std::FILE* f = std::fopen(at(kConfig).c_str(), "w");
  if (!f || std::fputs(qmfuzz::kRunConfig, f) < 0 || std::fclose(f) != 0) qmfuzz::Harness::die("config");
  return 0;
}

// The walks recurse once per nesting level, as in the program, which runs
// them on a thread with a large stack. One such thread serves every input
// (a thread per input would cost more than the run).
class Worker {
 public:
  Worker() {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, std::size_t{256} << 20);
    pthread_t th;
    if (pthread_create(&th, &attr, loop, this) != 0) qmfuzz::Harness::die("pthread_create");
    pthread_attr_destroy(&attr);
    pthread_detach(th);
  }
  void run(Job j) {
    std::unique_lock<std::mutex> lk(m_);
    job_ = j;
    pending_ = true;
    cv_.notify_all();
    cv_.wait(lk, [&] { return !pending_; });
  }

 private:
  static void* loop(void* self) {
    auto* w = static_cast<Worker*>(self);
    std::unique_lock<std::mutex> lk(w->m_);
    for (;;) {
      w->cv_.wait(lk, [&] { return w->pending_; });
      runJob(&w->job_);
      w->pending_ = false;
      w->cv_.notify_all();
    }
    return nullptr;
  }
  std::mutex m_;
  std::condition_variable cv_;
  Job job_{};
  bool pending_ = false;
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static Worker* worker = new Worker;
  worker->run(Job{data, size});
  return 0;
}
