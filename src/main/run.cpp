#include "main/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "common/progress.h"
#include "common/thread.h"
#include "hpgl/hpgl.h"
#include "layers/config.h"
#include "layers/load.h"
#include "pov/pov.h"
#include "ps/ps.h"
#include "svg/svg.h"

namespace qm {
namespace {

// One drawing of the run: its file and how it is drawn (into `path`, with
// `table`, printing through `con`).
struct Drawing {
  std::string path;
  std::function<void(const Console& con, const LayerTable& table, const std::string& path)> draw;
};

// A drawing on its way. One drawn ahead of its turn (while a drawing before
// it is still being drawn) goes to a file of its own beside its target, its
// messages kept in memory. When every drawing before it has succeeded, that
// file takes the target's place and the messages are printed: the run
// leaves the same files and prints the same bytes as one drawing after the
// other would, and a drawing the sequence would never reach leaves nothing.
struct Job {
  enum class State { Waiting, Done };
  State state = State::Waiting;
  std::string temp;  // its file when drawn ahead; empty when drawn in its turn
  Out out{Out::Spool{}};
  Out err{Out::Spool{}};
  std::optional<Failure> failure;
  std::exception_ptr error;
};

std::string Message(const char* fmt, const std::string& path) {
  int n = std::snprintf(nullptr, 0, fmt, path.c_str());
  std::string s(static_cast<std::size_t>(n), '\0');
  std::snprintf(s.data(), s.size() + 1, fmt, path.c_str());
  return s;
}

// Creates a file beside `target` for drawing ahead, with the mode a new
// drawing gets. Empty when the target is neither absent nor a plain file
// (a device, a pipe: those are written in their turn only) or when no file
// can be made there.
std::string MakeTemp(const std::string& target, std::size_t k) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return "";
  } else if (errno != ENOENT) {
    return "";
  }
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.empty()) return "";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = dir + "." + base + ".quillmask-" + std::to_string(::getpid()) + "-" + std::to_string(k) + "-" +
                       std::to_string(attempt);
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) return "";
  }
  return "";
}

// Copies the file `from` into the open descriptor `to`. False on any error.
bool CopyInto(const std::string& from, int to) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  bool ok = true;
  bool kernelCopy = true;
  std::vector<char> buf;
  for (;;) {
    ssize_t n;
    if (kernelCopy) {
      n = ::copy_file_range(in, nullptr, to, nullptr, std::size_t{1} << 30, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        kernelCopy = false;
        continue;
      }
    } else {
      if (buf.empty()) buf.resize(std::size_t{1} << 20);
      n = ::read(in, buf.data(), buf.size());
      for (ssize_t done = 0; n > 0 && done < n;) {
        ssize_t w = ::write(to, buf.data() + done, static_cast<std::size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
          n = -1;
          break;
        }
        done += w;
      }
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
  }
  ::close(in);
  return ok;
}

// Whether the existing target may be replaced by the file drawn ahead
// rather than copied into: a plain file of its own name (no other links,
// no symbolic link), writable, with the owner, group and folder the new
// file has and no extended attributes (access lists) that would be lost.
// The new file then takes the target's permission bits.
bool Replaceable(const std::string& target, const std::string& temp) {
  struct stat t {};
  struct stat m {};
  if (::lstat(target.c_str(), &t) != 0 || !S_ISREG(t.st_mode) || t.st_nlink != 1) return false;
  if (::stat(temp.c_str(), &m) != 0) return false;
  if (t.st_uid != m.st_uid || t.st_gid != m.st_gid || t.st_dev != m.st_dev) return false;
  if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return false;
  if (::listxattr(target.c_str(), nullptr, 0) != 0) return false;
  if ((t.st_mode & 07777) != (m.st_mode & 07777) && ::chmod(temp.c_str(), t.st_mode & 07777) != 0) return false;
  return true;
}

// Puts a drawing drawn ahead in place of its target and prints what it
// printed; then ends as it ended.
void Commit(const Console& con, Job& job, const Drawing& d, const LayerTable& table) {
  if (job.temp.empty()) {
    if (job.error) std::rethrow_exception(job.error);
    if (job.failure) throw *job.failure;
    return;
  }
  const std::string& target = d.path;
  // Its own file failed it (a full disk): it is drawn again, in its turn.
  if (job.failure && (job.failure->message == Message("Couldn't write %s. Aborting...\n", job.temp) ||
                      job.failure->message == Message("Couldn't open %s for writing. Aborting...\n", job.temp))) {
    ::unlink(job.temp.c_str());
    job.temp.clear();
    d.draw(con, table, target);
    return;
  }
  bool placed = false;
  bool copyFailed = false;
  struct stat st {};
  if (::stat(target.c_str(), &st) != 0 && errno == ENOENT) {
    placed = ::renameat2(AT_FDCWD, job.temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
  } else if (Replaceable(target, job.temp)) {
    placed = ::rename(job.temp.c_str(), target.c_str()) == 0;
  }
  if (!placed) {
    // The target is there: it is truncated and written, as in its turn.
    int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      ::unlink(job.temp.c_str());
      job.temp.clear();
      fatal("Couldn't open %s for writing. Aborting...\n", target.c_str());
    }
    copyFailed = !CopyInto(job.temp, fd);
    if (::close(fd) != 0) copyFailed = true;
    ::unlink(job.temp.c_str());
  }
  job.temp.clear();
  job.out.spoolTo(con.out);
  job.err.spoolTo(con.err);
  if (job.error) std::rethrow_exception(job.error);
  if (job.failure) throw *job.failure;
  if (copyFailed) fatal("Couldn't write %s. Aborting...\n", target.c_str());
}

// Draws on `threads` threads; the drawings end, print and fail in their order.
void DrawTogether(const Console& con, const GDSlibrary& lib, const LayerTable& table,
                  const std::vector<Drawing>& drawings, unsigned threads) {
  const std::size_t n = drawings.size();
  std::vector<std::unique_ptr<Job>> jobs;
  for (std::size_t k = 0; k < n; ++k) jobs.push_back(std::make_unique<Job>());
  std::mutex m;
  std::condition_variable cv;
  std::size_t next = 0;       // the next drawing to start
  std::size_t committed = 0;  // drawings ended and in place
  bool stop = false;

  // The names a lookup echoes are gathered once, before any thread needs them.
  (void)lib.findEcho(-1);

  auto worker = [&] {
    for (;;) {
      std::size_t k;
      bool inTurn;
      {
        std::lock_guard<std::mutex> l(m);
        if (stop || next == n) return;
        k = next++;
        inTurn = committed == k;
      }
      Job& job = *jobs[k];
      const Drawing& d = drawings[k];
      if (!inTurn) job.temp = MakeTemp(d.path, k);
      if (!inTurn && job.temp.empty()) {
        std::unique_lock<std::mutex> l(m);
        cv.wait(l, [&] { return stop || committed == k; });
        if (stop) return;
      }
      const Console ahead{job.out, job.err};
      // Lookups remember their answers: each drawing has its own table.
      const LayerTable mine = table;
      try {
        lib.walkCaches.enter();
        d.draw(job.temp.empty() ? con : ahead, mine, job.temp.empty() ? d.path : job.temp);
      } catch (const Failure& f) {
        job.failure = f;
      } catch (...) {
        job.error = std::current_exception();
      }
      lib.walkCaches.leave();
      {
        std::lock_guard<std::mutex> l(m);
        job.state = Job::State::Done;
      }
      cv.notify_all();
    }
  };

  std::vector<std::unique_ptr<BigStackThread>> pool;
  for (unsigned i = 0; i < threads; ++i) {
    auto t = std::make_unique<BigStackThread>(worker);
    if (!t->started()) break;
    pool.push_back(std::move(t));
  }
  if (pool.empty()) {
    for (const Drawing& d : drawings) d.draw(con, table, d.path);
    return;
  }
  try {
    for (std::size_t k = 0; k < n; ++k) {
      {
        std::unique_lock<std::mutex> l(m);
        cv.wait(l, [&] { return jobs[k]->state == Job::State::Done; });
      }
      Commit(con, *jobs[k], drawings[k], table);
      {
        std::lock_guard<std::mutex> l(m);
        committed = k + 1;
      }
      cv.notify_all();
    }
  } catch (...) {
    {
      std::lock_guard<std::mutex> l(m);
      stop = true;
    }
    cv.notify_all();
    pool.clear();  // waits for the drawings under way
    for (auto& job : jobs)
      if (!job->temp.empty()) ::unlink(job->temp.c_str());
    throw;
  }
  pool.clear();
}

}  // namespace

void RunWriters(const Console& con, const GDSlibrary& lib, const std::string& top, const std::string& configPath,
                const std::string& psPath, const std::string& povPath, const std::string& hpglPath,
                const WriterChoice& choice, Progress* progress) {
  // The page writer's configuration comes first, whichever drawings run;
  // the writers after it use the table as it leaves it.
  LayerTable table;
  unsigned threads = choice.threads != 0 ? choice.threads : std::max(1u, std::thread::hardware_concurrency());
  // The status line follows one writer at a time.
  if (progress && progress->active()) threads = 1;
  if (threads <= 1) {
    if (choice.ps) PSwritePage(con, lib, table, psPath, configPath, top, fastWalks(), progress);
    else LoadLayerConfig(con, configPath, table);
    if (choice.pov) POVwriteScene(con, lib, table, povPath, top, progress);
    if (choice.hpgl) HPGLwritePlot(con, lib, table, hpglPath, top, fastWalks(), progress);
    if (choice.svg) SVGwriteDrawing(con, lib, table, choice.svgPath, top, progress);
    return;
  }
  const int count = LoadLayerConfig(con, configPath, table);
  std::vector<Drawing> drawings;
  // A configuration without layers gives no page.
  if (choice.ps && count >= 2)
    drawings.push_back({psPath, [&](const Console& c, const LayerTable& t, const std::string& path) {
                          PSdrawPage(c, lib, t, path, top, fastWalks());
                        }});
  if (choice.pov)
    drawings.push_back({povPath, [&](const Console& c, const LayerTable& t, const std::string& path) {
                          POVwriteScene(c, lib, t, path, top);
                        }});
  if (choice.hpgl)
    drawings.push_back({hpglPath, [&](const Console& c, const LayerTable& t, const std::string& path) {
                          HPGLwritePlot(c, lib, t, path, top, fastWalks());
                        }});
  if (choice.svg)
    drawings.push_back({choice.svgPath, [&](const Console& c, const LayerTable& t, const std::string& path) {
                          SVGwriteDrawing(c, lib, t, path, top);
                        }});
  if (drawings.size() <= 1) {
    for (const Drawing& d : drawings) d.draw(con, table, d.path);
    return;
  }
  DrawTogether(con, lib, table, drawings, std::min<unsigned>(threads, static_cast<unsigned>(drawings.size())));
}

}  // namespace qm
