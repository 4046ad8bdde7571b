#include "runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace qmtest {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qmtest.XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}
TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}
void TempDir::write(const std::string& name, const std::string& content) const {
  std::ofstream f(file(name), std::ios::binary);
  f << content;
}
std::string TempDir::read(const std::string& name) const { return readFile(file(name)); }
bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

bool haveProgram(const std::string& name) {
  std::string cmd = "command -v " + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

pid_t spawn(const std::string& prog, const std::vector<std::string>& args, const std::string& cwd,
            const SpawnIo& io) {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    int in = io.stdinFd >= 0 ? io.stdinFd : open(io.stdinPath.c_str(), O_RDONLY);
    int o = open(io.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(io.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) _exit(127);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    close(in);
    close(o);
    close(e);
    if (chdir(cwd.c_str()) != 0) _exit(127);
    for (int fd : io.closeFds) close(fd);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(prog.c_str()));
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(prog.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int exitStatus(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

RunResult run(const std::string& prog, const std::vector<std::string>& args, const std::string& cwd,
              const std::string& stdinData, bool pipeStdin) {
  std::signal(SIGPIPE, SIG_IGN);
  TempDir tmp;
  SpawnIo io;
  io.stdinPath = tmp.file("stdin");
  io.outPath = tmp.file("stdout");
  io.errPath = tmp.file("stderr");
  tmp.write("stdin", stdinData);
  int pfd[2] = {-1, -1};
  if (pipeStdin) {
    if (pipe(pfd) != 0) throw std::runtime_error("pipe");
    io.stdinFd = pfd[0];
    io.closeFds = {pfd[1]};
  }
  pid_t pid = spawn(prog, args, cwd, io);
  if (pipeStdin) {
    close(pfd[0]);
    // Feed in small pieces so that the reader really sees a pipe.
    std::thread feeder([&] {
      size_t off = 0;
      while (off < stdinData.size()) {
        size_t n = std::min<size_t>(4096, stdinData.size() - off);
        ssize_t w = ::write(pfd[1], stdinData.data() + off, n);
        if (w <= 0) break;
        off += static_cast<size_t>(w);
      }
      close(pfd[1]);
    });
    feeder.join();
  }
  int st = 0;
  waitpid(pid, &st, 0);
  RunResult r;
  r.status = exitStatus(st);
  r.out = readFile(io.outPath);
  r.err = readFile(io.errPath);
  return r;
}

std::string gzip(const std::string& data, const std::vector<std::size_t>& cuts) {
  std::string z;
  std::size_t from = 0;
  std::vector<std::size_t> ends = cuts;
  ends.push_back(data.size());
  for (std::size_t to : ends) {
    z_stream zs{};
    if (deflateInit2(&zs, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&zs, to - from), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + from));
    zs.avail_in = static_cast<uInt>(to - from);
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    int ret = deflate(&zs, Z_FINISH);
    deflateEnd(&zs);
    if (ret != Z_STREAM_END) throw std::runtime_error("deflate");
    z.append(out.data(), out.size() - zs.avail_out);
    from = to;
  }
  return z;
}

RunResult quillmask(const std::vector<std::string>& args, const std::string& cwd, const std::string& stdinData,
                    bool pipeStdin) {
  const char* g = std::getenv("QM_TEST_GZIP");
  if (!g || std::string(g) != "1") return run(QM_BIN, args, cwd, stdinData, pipeStdin);
  auto compress = [](const std::string& d) { return gzip(d, {d.size() / 3}); };
  std::vector<std::string> a = args;
  for (std::size_t i = 0; i + 1 < a.size(); ++i) {
    if (a[i] != "-i" && a[i] != "--ifile") continue;
    std::string path = a[i + 1][0] == '/' ? a[i + 1] : cwd + "/" + a[i + 1];
    if (access(path.c_str(), R_OK) != 0) continue;  // the error names the file as given
    std::ofstream(path + ".qmgz", std::ios::binary) << compress(readFile(path));
    a[i + 1] += ".qmgz";
    ++i;
  }
  return run(QM_BIN, a, cwd, compress(stdinData), pipeStdin);
}

}  // namespace qmtest
