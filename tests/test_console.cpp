// What the program does with its console: a failed standard output, and
// the --progress status line on a terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "common/out.h"
#include "common/progress.h"
#include "gdsw.h"
#include "main/run.h"
#include "model_builder.h"
#include "runner.h"

using namespace gdsw;
using qmtest::TempDir;

namespace {

const char* kConfig =
    "newlayer\n name M1 gdsno 1 hidden no fill yes red 0.1 green 0.1 blue 0.9\nendlayer\n"
    "newlayer\n name M2 gdsno 2 hidden no hatch single angle 30 step 50\nendlayer\n";

std::string library(int cells = 3) {
  Gds g;
  g.lib("CON").bgnstr("LEAF").rect(1, 0, 0, 0, 1000, 500).path(2, 0, 0, 100, {{0, 0}, {900, 900}}).endstr();
  for (int c = 0; c < cells; ++c) {
    g.bgnstr("C" + std::to_string(c));
    for (int e = 0; e < 2000; ++e) g.rect(1 + e % 2, 0, e * 10, c * 100, e * 10 + 7, c * 100 + 50);
    g.endstr();
  }
  g.bgnstr("TOP").sref("LEAF", 0, 0);
  for (int c = 0; c < cells; ++c) g.sref("C" + std::to_string(c), 0, 1000);
  g.text(1, 0, "hi", 0, 0).endstr().endlib();
  return g.bytes;
}

struct Spawned {
  int status = -1;
  std::string err;
};

// Runs quillmask with standard output going to `outPath`.
Spawned runTo(const std::string& outPath, const std::vector<std::string>& args, const TempDir& d) {
  qmtest::SpawnIo io;
  io.outPath = outPath;
  io.errPath = d.file("stderr");
  pid_t pid = qmtest::spawn(QM_BIN, args, d.path(), io);
  int st = 0;
  waitpid(pid, &st, 0);
  return {qmtest::exitStatus(st), d.read("stderr")};
}

TEST(Console, FailedStandardOutputEndsWithStatus1) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  TempDir d;
  d.write("in.gds", library());
  d.write("c.cfg", kConfig);
  const std::vector<std::vector<std::string>> runs = {
      {"-i", "in.gds"},
      {"-i", "in.gds", "-s", "TOP", "-c", "c.cfg"},
      {"--version"},
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(args.back());
    Spawned good = runTo(d.file("stdout"), args, d);
    EXPECT_EQ(good.status, 0);
    EXPECT_FALSE(d.read("stdout").empty());
    Spawned full = runTo("/dev/full", args, d);
    EXPECT_EQ(full.status, 1);
    // Everything else as in the good run, then the failure.
    EXPECT_EQ(full.err, good.err + "Couldn't write standard output. Aborting...\n");
  }
}

// The text a terminal shows after `bytes`: carriage return, line feed (as
// a new line), erase to the end of the line, and plain characters.
std::string screen(const std::string& bytes) {
  std::vector<std::string> lines(1);
  std::size_t col = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    std::string& line = lines.back();
    if (c == '\r') {
      col = 0;
    } else if (c == '\n') {
      lines.emplace_back();
      col = 0;
    } else if (c == '\033' && bytes.compare(i, 3, "\033[K") == 0) {
      line.resize(std::min(line.size(), col));
      i += 2;
    } else {
      if (line.size() <= col) line.resize(col + 1, ' ');
      line[col++] = c;
    }
  }
  std::string s;
  for (std::size_t k = 0; k < lines.size(); ++k) s += (k ? "\n" : "") + lines[k];
  return s;
}

// Runs quillmask with standard error on a pseudo-terminal; returns what
// the terminal received.
Spawned runOnTerminal(const std::vector<std::string>& args, const TempDir& d) {
  int master = -1, slave = -1;
  char name[256];
  struct termios raw {};
  cfmakeraw(&raw);  // the bytes arrive as written
  if (openpty(&master, &slave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty");
  fcntl(master, F_SETFL, O_NONBLOCK);
  qmtest::SpawnIo io;
  io.outPath = d.file("stdout");
  io.errPath = name;
  io.closeFds = {master, slave};
  pid_t pid = qmtest::spawn(QM_BIN, args, d.path(), io);
  Spawned r;
  auto drain = [&] {
    char buf[4096];
    for (;;) {
      ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) {
        r.err.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return;
    }
  };
  int st = 0;
  for (;;) {
    struct pollfd p {master, POLLIN, 0};
    poll(&p, 1, 50);
    drain();
    if (waitpid(pid, &st, WNOHANG) == pid) break;
  }
  drain();
  close(slave);
  close(master);
  r.status = qmtest::exitStatus(st);
  return r;
}

TEST(Console, ProgressOnATerminalIsErasedAndLeavesTheMessages) {
  TempDir d;
  d.write("in.gds", library());
  d.write("in.gds.gz", qmtest::gzip(library()));
  d.write("c.cfg", kConfig);
  const std::vector<std::vector<std::string>> runs = {
      {"-i", "in.gds", "-s", "TOP", "-c", "c.cfg"},
      {"-i", "in.gds.gz"},
      {"-i", "in.gds", "-s", "TOP", "-c", "missing.cfg"},  // ends in a fatal error
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(args[1] + " " + args.back());
    auto plain = qmtest::quillmask(args, d.path());
    std::vector<std::string> withProgress = args;
    withProgress.insert(withProgress.begin(), "--progress");
    Spawned tty = runOnTerminal(withProgress, d);
    EXPECT_EQ(tty.status, plain.status);
    EXPECT_EQ(d.read("stdout"), plain.out);
    EXPECT_NE(tty.err.find("\r\033[Kquillmask: reading "), std::string::npos) << tty.err;
    // The status line is gone; the messages are there as without it.
    EXPECT_EQ(screen(tty.err), plain.err);
    EXPECT_NE(tty.err, plain.err);

    // Without a terminal nothing changes.
    auto notty = qmtest::quillmask(withProgress, d.path());
    EXPECT_EQ(notty.status, plain.status);
    EXPECT_EQ(notty.out, plain.out);
    EXPECT_EQ(notty.err, plain.err);
  }
}

// A Progress drawing into a pipe, with a clock the test moves.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (pipe(fd) != 0) throw std::runtime_error("pipe");
    fcntl(fd[0], F_SETFL, O_NONBLOCK);
  }
  ~Pipe() {
    close(fd[0]);
    close(fd[1]);
  }
  std::string take() {
    std::string s;
    char b[4096];
    ssize_t n;
    while ((n = read(fd[0], b, sizeof b)) > 0) s.append(b, static_cast<std::size_t>(n));
    return s;
  }
};

TEST(Progress, RedrawsAtMostTenTimesASecond) {
  qm::CaptureStd cap;
  Pipe p;
  int64_t now = 1000;
  {
    qm::Progress pr(cap.console(), true, p.fd[1], [&] { return now; });
    pr.reading(0, 2000000);
    EXPECT_EQ(p.take(), "\r\033[Kquillmask: reading 0.0 MB of 2.0 MB (0%)");
    now += 99;
    pr.reading(1000000, 2000000);
    pr.writing("PostScript", "M1", 1, 2);
    EXPECT_EQ(p.take(), "");
    now += 1;
    pr.reading(1500000, 0);
    EXPECT_EQ(p.take(), "\r\033[Kquillmask: reading 1.5 MB");
    now += 100;
    pr.writing("HP-GL/2", "M\n2", 2, 2);
    EXPECT_EQ(p.take(), "\r\033[Kquillmask: writing HP-GL/2, layer M?2 (2 of 2)");
    now += 500;
    pr.writing("POV-Ray scene");
    EXPECT_EQ(p.take(), "\r\033[Kquillmask: writing POV-Ray scene");
    // A line longer than the terminal is cut to its width (80 when unknown).
    now += 100;
    pr.writing("PostScript", std::string(200, 'x'), 1, 1);
    std::string line = p.take();
    EXPECT_EQ(line.size(), 4u + 79u);
    pr.clear();
    EXPECT_EQ(p.take(), "\r\033[K");
    pr.clear();
    EXPECT_EQ(p.take(), "");  // nothing shown, nothing to erase
    now += 100;
    pr.reading(5, 10);
  }
  EXPECT_EQ(p.take(), "\r\033[Kquillmask: reading 0.0 MB of 0.0 MB (50%)\r\033[K");  // erased at the end

  qm::Progress off(cap.console(), false, p.fd[1], [&] { return now += 1000; });
  off.reading(1, 2);
  off.writing("PostScript", "M1", 1, 1);
  EXPECT_EQ(p.take(), "");
}

TEST(Progress, WritersReportTheirLayers) {
  TempDir d;
  d.write("c.cfg", kConfig);
  qmtest::ModelBuilder b;
  int32_t top = b.add("TOP");
  b.boundary(top, 1, {{0, 0}, {0, 100}, {100, 100}, {100, 0}, {0, 0}});
  b.boundary(top, 2, {{0, 0}, {0, 50}, {50, 50}, {50, 0}, {0, 0}});
  const qm::GDSlibrary& lib = b.doneAsRead();
  qm::CaptureStd cap;
  Pipe p;
  int64_t now = 0;
  {
    qm::Progress pr(cap.console(), true, p.fd[1], [&] { return now += 1000; });
    qm::RunWriters(cap.console(), lib, "TOP", d.file("c.cfg"), d.file("r.ps"), d.file("r.pov"), d.file("r.plt"), qm::WriterChoice{}, &pr);
  }
  std::string s = p.take();
  for (const char* text : {"writing PostScript, layer M1 (1 of 2)", "writing PostScript, layer M2 (2 of 2)",
                           "writing POV-Ray scene", "writing HP-GL/2, layer M1 (1 of 2)",
                           "writing HP-GL/2, layer M2 (2 of 2)"})
    EXPECT_NE(s.find(std::string("\r\033[Kquillmask: ") + text), std::string::npos) << text << "\n" << s;
  EXPECT_EQ(s.substr(s.size() - 4), "\r\033[K");
}

}  // namespace
