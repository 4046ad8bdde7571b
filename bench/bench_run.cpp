// Runs quillmask on one input and reports wall time, input throughput,
// peak memory and the bytes written to each output.
//   bench_run QUILLMASK INPUT WORKDIR [ELEMENTS] [-- extra quillmask args]
// Standard output and error of the run go to /dev/null.
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
  int i = 4;
  if (i < argc && std::string(argv[i]) != "--") elements = std::atof(argv[i++]);
  std::vector<std::string> args = {bin, "-i", input};
  if (i < argc && std::string(argv[i]) == "--")
    for (++i; i < argc; ++i) args.push_back(argv[i]);
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> av;
    for (auto& a : args) av.push_back(a.data());
    av.push_back(nullptr);
    execv(bin.c_str(), av.data());
    _exit(127);
  }
  int st = 0;
  struct rusage ru {};
  wait4(pid, &st, 0, &ru);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double mb = static_cast<double>(fileSize(input)) / 1e6;
  std::printf("input %.1f MB, status %d, wall %.3f s, %.1f MB/s", mb, WIFEXITED(st) ? WEXITSTATUS(st) : -1, secs,
              mb / secs);
  if (elements > 0) std::printf(", %.2f M elements/s", elements / secs / 1e6);
  std::printf(", peak memory %.1f MB (%.2f x input)\n", static_cast<double>(ru.ru_maxrss) / 1024.0,
              static_cast<double>(ru.ru_maxrss) / 1024.0 / mb);
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
  return 0;
}
