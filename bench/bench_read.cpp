// Reading one library: quillmask without -s (the echo to /dev/null) against
// KLayout's load of the same file in its own process, timed inside KLayout
// by bench/klayout_load.rb so that its start is not counted. The two run in
// turn, a few rounds, so that a busy spell of the machine hits them alike;
// the best wall time of each counts.
//   bench_read QUILLMASK INPUT WORKDIR LOAD_SCRIPT [GOAL [RUNS]]
// GOAL is the ratio quillmask / KLayout to reach (printed with the result).
// Without a klayout on the PATH the comparison line says so.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "measure.h"

namespace {

using qmbench::Timing;

double fileMb(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? static_cast<double>(st.st_size) / 1e6 : 0;
}

bool onPath(const std::string& prog) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "";
  std::size_t b = 0;
  while (b <= dirs.size()) {
    std::size_t e = dirs.find(':', b);
    if (e == std::string::npos) e = dirs.size();
    std::string f = (e > b ? dirs.substr(b, e - b) : std::string(".")) + "/" + prog;
    struct stat st;
    if (stat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111)) return true;
    b = e + 1;
  }
  return false;
}

// One load in KLayout: the seconds its script measured, or a negative
// value when it did not run through.
double klayoutLoad(const std::string& script, const std::string& input, const std::string& dir) {
  std::string timeFile = dir + "/klayout_load.txt";
  std::remove(timeFile.c_str());
  Timing t = qmbench::runOnce({"klayout", "-zz", "-r", script, "-rd", "input=" + input, "-rd", "out=" + timeFile}, dir);
  double secs = -1;
  std::ifstream f(timeFile);
  if (t.status != 0 || !(f >> secs)) secs = -1;
  std::remove(timeFile.c_str());
  return secs;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bench_read QUILLMASK INPUT WORKDIR LOAD_SCRIPT [GOAL [RUNS]]\n");
    return 2;
  }
  std::string bin = argv[1], input = argv[2], dir = argv[3], script = argv[4];
  double goal = argc > 5 ? std::atof(argv[5]) : 1.0;
  int runs = argc > 6 ? std::max(1, std::atoi(argv[6])) : 5;
  bool haveKlayout = onPath("klayout");
  double mb = fileMb(input);
  Timing q;
  double k = 1e300;
  bool kFailed = false;
  for (int i = 0; i < runs; ++i) {
    Timing t = qmbench::runOnce({bin, "-i", input}, dir);
    if (t.seconds < q.seconds) q = t;
    if (haveKlayout && !kFailed) {
      double s = klayoutLoad(script, input, dir);
      if (s < 0) kFailed = true;
      else k = std::min(k, s);
    }
  }
  std::printf("best of %d rounds: input %.1f MB, status %d, wall %.3f s, %.1f MB/s, cpu %.3f s\n", runs, mb, q.status,
              q.seconds, mb / q.seconds, q.cpu);
  std::printf("  peak memory %.1f MB = %.2f x input (goal: at most 1.20)\n", q.peakMb, q.peakMb / mb);
  if (!haveKlayout)
    std::printf("  KLayout: not installed (klayout not on the PATH), no ratio\n");
  else if (kFailed)
    std::printf("  KLayout: the load did not run through, no ratio\n");
  else
    std::printf("  KLayout load %.3f s; quillmask / KLayout = %.2f (goal: at most %.2f)\n", k, q.seconds / k, goal);
  return 0;
}
