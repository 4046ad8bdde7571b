// Runs one program as a benchmark does: in a working folder, its standard
// output and error to /dev/null, with wall time, processor time and peak
// memory taken from the kernel.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace qmbench {

struct Timing {
  double seconds = 1e300;
  double cpu = 0;  // user + system seconds
  double peakMb = 0;
  int status = -1;
};

// Runs args[0] (a path, or a name looked up on the PATH) in `dir`.
inline Timing runOnce(std::vector<std::string> args, const std::string& dir) {
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
    execvp(av[0], av.data());
    _exit(127);
  }
  int st = 0;
  struct rusage ru {};
  wait4(pid, &st, 0, &ru);
  Timing t;
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  t.peakMb = static_cast<double>(ru.ru_maxrss) / 1024.0;
  auto secs = [](const timeval& v) { return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) / 1e6; };
  t.cpu = secs(ru.ru_utime) + secs(ru.ru_stime);
  t.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return t;
}

}  // namespace qmbench
