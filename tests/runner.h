// Runs the built programs in a scratch folder and collects what they print.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace qmtest {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// A fresh temporary folder, removed when destroyed.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// Where a started program's streams go and what it does not inherit.
struct SpawnIo {
  std::string stdinPath = "/dev/null";
  int stdinFd = -1;  // read end of a pipe, taken instead of stdinPath (and closed)
  std::string outPath = "/dev/null";
  std::string errPath = "/dev/null";
  std::vector<int> closeFds;  // closed last, just before the program starts
};

// Starts `prog` with `args` in folder `cwd`; returns its process id. The
// child ends with status 127 when a stream cannot be opened, the folder
// entered or the program started.
pid_t spawn(const std::string& prog, const std::vector<std::string>& args, const std::string& cwd,
            const SpawnIo& io);
// The status of a waited-for process: its exit status, or 128 + the signal
// that ended it.
int exitStatus(int waitStatus);

// Runs `prog` with `args` in folder `cwd`, with `stdinData` on standard
// input (through a regular file unless `pipeStdin` is set).
RunResult run(const std::string& prog, const std::vector<std::string>& args, const std::string& cwd,
              const std::string& stdinData = {}, bool pipeStdin = false);
// The same for quillmask. When the environment variable QM_TEST_GZIP is 1,
// the library handed over (standard input, and the file named by -i) is
// gzip-compressed first, in two members: a suite run that way checks that
// a compressed library is read exactly as the plain one.
RunResult quillmask(const std::vector<std::string>& args, const std::string& cwd,
                    const std::string& stdinData = {}, bool pipeStdin = false);

std::string readFile(const std::string& path);
// `data` gzip-compressed, one member per piece between the offsets `cuts`
// (ascending, each within the data).
std::string gzip(const std::string& data, const std::vector<std::size_t>& cuts = {});
// Whether a program is on the PATH.
bool haveProgram(const std::string& name);

}  // namespace qmtest
