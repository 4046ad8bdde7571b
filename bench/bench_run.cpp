// Runs quillmask on one input and reports wall time, input throughput,
// peak memory and the bytes written to each output.
//   bench_run QUILLMASK INPUT WORKDIR [ELEMENTS] [--dd] [-- extra quillmask args]
// Standard output and error of the run go to /dev/null.
// --dd: then writes as many bytes as the drawings took with dd into the
// same folder and compares the two speeds. Neither syncs: dd writes through
// the page cache (bs=1M, no fsync, no fdatasync), and quillmask does too,
// except that past the first 256 MB of a drawing it hands each stretch to
// the disk as it writes it and drops it from the cache (still no fsync).
// The drawings are removed before, and dd's file after, and dirty pages are
// written out (sync, not timed) before each of the two timed writes.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "measure.h"

namespace {
long long fileSize(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_run QUILLMASK INPUT WORKDIR [ELEMENTS] [-- args]\n");
    return 2;
  }
  std::string bin = argv[1], input = argv[2], dir = argv[3];
  double elements = 0;
  bool dd = false;
  int i = 4;
  if (i < argc && std::string(argv[i]) != "--" && std::string(argv[i]) != "--dd") elements = std::atof(argv[i++]);
  if (i < argc && std::string(argv[i]) == "--dd") {
    dd = true;
    ++i;
  }
  std::vector<std::string> args = {bin, "-i", input};
  if (i < argc && std::string(argv[i]) == "--")
    for (++i; i < argc; ++i) args.push_back(argv[i]);
  if (dd) sync();
  const qmbench::Timing t = qmbench::runOnce(args, dir);
  const double secs = t.seconds;
  double mb = static_cast<double>(fileSize(input)) / 1e6;
  std::printf("input %.1f MB, status %d, wall %.3f s, %.1f MB/s", mb, t.status, secs, mb / secs);
  if (elements > 0) std::printf(", %.2f M elements/s", elements / secs / 1e6);
  std::printf(", peak memory %.1f MB (%.2f x input)\n", t.peakMb, t.peakMb / mb);
  long long total = 0;
  for (const char* f : {"result.txt", "result.ps", "result.pov", "result.plt", "result.svg"}) {
    long long s = fileSize(dir + "/" + f);
    if (s >= 0) {
      std::printf("  %-10s %12lld bytes\n", f, s);
      if (std::string(f) != "result.txt") total += s;
    }
  }
  long long svg = fileSize(dir + "/result.svg");
  if (svg >= 0) std::printf("  SVG %.2f x the input\n", static_cast<double>(svg) / static_cast<double>(fileSize(input)));
  if (total > 0) std::printf("  drawings: %.1f MB written, %.1f MB/s\n", static_cast<double>(total) / 1e6,
                             static_cast<double>(total) / 1e6 / secs);
  if (dd && total > 0) {
    for (const char* f : {"result.ps", "result.pov", "result.plt", "result.svg"}) unlink((dir + "/" + f).c_str());
    sync();
    const std::string ddFile = dir + "/dd.bin";
    const qmbench::Timing d = qmbench::runOnce(
        {"dd", "if=/dev/zero", "of=" + ddFile, "bs=1M", "count=" + std::to_string(total), "iflag=count_bytes"}, dir);
    const long long written = fileSize(ddFile);
    unlink(ddFile.c_str());
    if (d.status != 0 || written != total) {
      std::printf("  dd failed (status %d, %lld bytes)\n", d.status, written);
    } else {
      const double drawRate = static_cast<double>(total) / 1e6 / secs;
      const double ddRate = static_cast<double>(total) / 1e6 / d.seconds;
      std::printf("  dd of the same %.1f MB into the same folder: %.3f s, %.1f MB/s\n", static_cast<double>(total) / 1e6,
                  d.seconds, ddRate);
      std::printf("  drawing bytes per second / dd: %.2f (goal at least 0.60)\n", drawRate / ddRate);
    }
  }
  return 0;
}
