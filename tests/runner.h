// Runs the built programs in a scratch folder and collects what they print.
#pragma once

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

// Runs `prog` with `args` in folder `cwd`, with `stdinData` on standard
// input (through a regular file unless `pipeStdin` is set).
RunResult run(const std::string& prog, const std::vector<std::string>& args, const std::string& cwd,
              const std::string& stdinData = {}, bool pipeStdin = false);
// The same for quillmask.
RunResult quillmask(const std::vector<std::string>& args, const std::string& cwd,
                    const std::string& stdinData = {}, bool pipeStdin = false);

std::string readFile(const std::string& path);
// Whether a program is on the PATH.
bool haveProgram(const std::string& name);

}  // namespace qmtest
