// Compressed input against its two parts: decompressing alone (zcat), the
// plain read of the same library, and the read of the compressed library.
// The three are run in turn, a few rounds, so that a busy spell of the
// machine hits them alike; the best wall time of each counts, with its
// processor time and peak memory.
//   bench_gzip QUILLMASK PLAIN.gds COMPRESSED.gds.gz WORKDIR [RUNS]
// Standard output and error of the runs go to /dev/null.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "measure.h"

namespace {

using qmbench::Timing;
using qmbench::runOnce;

double fileMb(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? static_cast<double>(st.st_size) / 1e6 : 0;
}

void keepBest(Timing& b, const Timing& t) {
  if (t.seconds < b.seconds) b = t;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bench_gzip QUILLMASK PLAIN.gds COMPRESSED.gds.gz WORKDIR [RUNS]\n");
    return 2;
  }
  std::string bin = argv[1], plain = argv[2], gz = argv[3], dir = argv[4];
  int runs = argc > 5 ? std::max(1, std::atoi(argv[5])) : 5;
  double mb = fileMb(plain), gzMb = fileMb(gz);
  std::printf("library %.1f MB, compressed %.1f MB, best of %d rounds\n", mb, gzMb, runs);
  Timing z, p, c;
  for (int i = 0; i < runs; ++i) {
    keepBest(z, runOnce({"zcat", gz}, dir));
    keepBest(p, runOnce({bin, "-i", plain}, dir));
    keepBest(c, runOnce({bin, "-i", gz}, dir));
  }
  auto show = [&](const char* what, const Timing& t) {
    std::printf("  %-18s status %d, wall %.3f s, %.1f MB/s of library, cpu %.3f s, peak memory %.1f MB\n", what,
                t.status, t.seconds, mb / t.seconds, t.cpu, t.peakMb);
  };
  show("zcat alone", z);
  show("plain read", p);
  show("compressed read", c);
  double bound = std::max(z.seconds, p.seconds);
  std::printf("  compressed / max(zcat, plain) = %.2f (goal: at most 1.20)\n", c.seconds / bound);
  return 0;
}
