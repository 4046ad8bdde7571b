// Runs a built program with a deadline, its standard output kept in a
// file (the runs of the limit tests print hundreds of megabytes), and can
// stop it early once a file it writes satisfies a condition.
#pragma once

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "runner.h"

namespace qmtest {

struct TimedResult {
  int status = -1;        // exit status, 128 + signal when killed by a signal
  bool signaled = false;  // ended by a signal it did not get from us
  bool timedOut = false;  // still running at the deadline: killed
  bool stoppedEarly = false;  // killed because `stopWhen` held
  double seconds = 0;
  std::string err;
  std::string outPath;  // standard output, in the folder of the run
};

// Runs `prog args` in `cwd` with standard input from `stdinPath` (or
// /dev/null), standard output to cwd/stdout.txt (or /dev/null when
// `keepStdout` is false) and standard error to cwd/stderr.txt. Polls
// `stopWhen` every 50 ms; when it returns true the program is killed and
// the run counts as stopped early. The descriptors in `closeFds` are
// closed before the program starts.
inline TimedResult runTimed(const std::string& prog, const std::vector<std::string>& args, const std::string& cwd,
                            double deadlineSeconds, const std::function<bool()>& stopWhen = {},
                            const std::string& stdinPath = "/dev/null", bool keepStdout = true,
                            const std::vector<int>& closeFds = {}) {
  TimedResult r;
  r.outPath = keepStdout ? cwd + "/stdout.txt" : "/dev/null";
  SpawnIo io;
  io.stdinPath = stdinPath;
  io.outPath = r.outPath;
  io.errPath = cwd + "/stderr.txt";
  io.closeFds = closeFds;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = spawn(prog, args, cwd, io);
  int st = 0;
  for (;;) {
    pid_t w = waitpid(pid, &st, WNOHANG);
    if (w == pid) break;
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    bool stop = stopWhen && stopWhen();
    if (stop || t > deadlineSeconds) {
      (stop ? r.stoppedEarly : r.timedOut) = true;
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = exitStatus(st);
  r.signaled = WIFSIGNALED(st) && !r.timedOut && !r.stoppedEarly;
  r.err = readFile(io.errPath);
  return r;
}

}  // namespace qmtest
