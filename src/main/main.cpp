// The quillmask entry: command line, reading, writer sequence.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/out.h"
#include "common/progress.h"
#include "gds/reader.h"
#include "main/run.h"

namespace {

// The usage text; `all` adds the options that came after the first ones
// (--help shows them, the usage after an unknown option does not).
void PrintUsage(qm::Out& e, const char* argv0, bool all) {
  e.put("Usage:\n");
  e.printf("%s [options]\n", argv0);
  e.put("where options are:\n");
  e.put("-h, --help:              prints this message\n");
  e.put("-H, --hpglfile \"file\":   opens \"file\" for writing HPGL\n");
  e.printf("                         defaults to %s\n", "result.plt");
  e.put("-p, --psfile \"file\":     opens \"file\" for writing PostScript\n");
  e.printf("                         defaults to %s\n", "result.ps");
  e.put("-v, --povfile \"file\":     opens \"file\" for writing POVRAY\n");
  e.printf("                         defaults to %s\n", "result.pov");
  e.put("-i, --ifile \"file\":      opens \"file\" as the GDSii input file\n");
  e.put("                         if not specified, stdin is used\n");
  e.put("-c, --configfile \"file\": opens \"file\" as the layers definition file\n");
  e.printf("                         defaults to %s\n", ".layers.config");
  e.put("-s, --struct \"sname\":    \"sname\" is the top cell to be printed\n");
  e.put("                         if not specified, the names of all structures\n");
  e.put("                         and layers # are written to stdout.\n");
  e.put("                         No PS/HPGL file are generated\n");
  if (!all) return;
  e.put("-t, --tolerant:          also reads valid records the strict reader rejects\n");
  e.put("-g, --svgfile \"file\":    also writes an SVG drawing of the top cell\n");
  e.put("-o, --only LIST:         writes only the listed drawings (ps,pov,hpgl,svg)\n");
  e.put("--progress:              shows a status line on a terminal while it works\n");
  e.put("--threads N:             draws on at most N threads (1: one drawing after the other)\n");
  e.put("--version:               prints the version and exits\n");
}

// The drawings named by --only, a comma-separated list: a word that is
// none of them, or an empty one, is a usage error (false).
bool ParseOnly(const qm::Console& con, const char* argv0, const char* list, qm::WriterChoice& choice) {
  choice.ps = choice.pov = choice.hpgl = choice.svg = false;
  std::string_view rest = list;
  for (;;) {
    std::size_t comma = rest.find(',');
    std::string_view word = rest.substr(0, comma);
    if (word == "ps") choice.ps = true;
    else if (word == "pov") choice.pov = true;
    else if (word == "hpgl") choice.hpgl = true;
    else if (word == "svg") choice.svg = true;
    else {
      if (word.empty())
        con.err.printf("Empty drawing name in the list \"%s\" of the option --only.\n", list);
      else
        con.err.printf("Unknown drawing \"%.*s\" in the option --only.\n", static_cast<int>(word.size()),
                         word.data());
      con.err.put("The drawings are ps, pov, hpgl and svg, separated by commas.\n");
      PrintUsage(con.err, argv0, false);
      return false;
    }
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

// The thread count of --threads: a whole number from 1 to 1024.
bool ParseThreads(const qm::Console& con, const char* argv0, const char* text, qm::WriterChoice& choice) {
  unsigned n = 0;
  bool ok = *text != '\0';
  for (const char* p = text; ok && *p; ++p) {
    ok = *p >= '0' && *p <= '9' && n <= 1024;
    n = n * 10 + static_cast<unsigned>(*p - '0');
  }
  if (!ok || n < 1 || n > 1024) {
    con.err.printf("Bad thread count \"%s\" for the option --threads: a number from 1 to 1024.\n", text);
    PrintUsage(con.err, argv0, false);
    return false;
  }
  choice.threads = n;
  return true;
}

struct Args {
  const qm::Console& con;
  int argc;
  char** argv;
  int status = 0;
};

int RunMain(const qm::Console& con, int argc, char** argv) {
  int fd = -1;
  const char* top = nullptr;
  const char* config = nullptr;
  const char* ps = nullptr;
  const char* pov = nullptr;
  const char* hpgl = nullptr;
  const char* svg = nullptr;
  const char* only = nullptr;
  const char* threads = nullptr;
  qm::WriterChoice choice;
  qm::ReadOptions opt;
  bool showProgress = false;
  for (int i = 1; i < argc; ++i) {
    std::string w = argv[i];
    const char** target = nullptr;
    if (w == "-i" || w == "--ifile") {
      if (i + 1 >= argc) qm::fatal("Missing argument for the option -ifile. Exiting...\n");
      ++i;
      fd = ::open(argv[i], O_RDONLY);
      if (fd < 0) qm::fatal("Couldn't open the file \"%s\". Exiting...\n", argv[i]);
      continue;
    }
    if (w == "-s" || w == "--struct") target = &top;
    else if (w == "-c" || w == "--configfile") target = &config;
    else if (w == "-p" || w == "--psfile") target = &ps;
    else if (w == "-v" || w == "--povfile") target = &pov;
    else if (w == "-H" || w == "--hpglfile") target = &hpgl;
    else if (w == "-g" || w == "--svgfile") target = &svg;
    else if (w == "-o" || w == "--only") target = &only;
    else if (w == "--threads") target = &threads;
    else if (w == "-t" || w == "--tolerant") {
      opt.tolerant = true;
      continue;
    } else if (w == "--progress") {
      showProgress = true;
      continue;
    } else if (w == "-h" || w == "--help") {
      PrintUsage(con.err, argv[0], true);
      return 0;
    } else if (w == "--version") {
      con.out.put("quillmask " QM_VERSION "\n");
      return 0;
    } else {
      con.err.printf("Unknown option \"%s\"\n", argv[i]);
      PrintUsage(con.err, argv[0], false);
      return 1;
    }
    if (i + 1 >= argc) qm::fatal("Missing argument for the option %s. Exiting...\n", argv[i]);
    *target = argv[++i];
    if (target == &only && !ParseOnly(con, argv[0], only, choice)) return 1;
    if (target == &threads && !ParseThreads(con, argv[0], threads, choice)) return 1;
  }
  if (fd < 0) fd = 0;
  // Only a person at a terminal sees the status line; scripted runs stay
  // byte for byte as without it.
  qm::Progress progress(con, showProgress && ::isatty(2) == 1);
  opt.progress = &progress;
  // The library lives until the process ends: it is never taken apart.
  qm::GDSlibrary* lib = qm::GDSreadLibrary(con, fd, "result.txt", opt).release();
  if (!lib) qm::fatal("Couldn't read the Calma library. Exiting...\n");
  ::close(fd);
  if (!top) {
    con.err.put("For the time being, please look at the file result.txt\n");
    return 0;
  }
  // An SVG file alone asks for the SVG drawing after the other three.
  if (svg && !only) choice.svg = true;
  if (svg) choice.svgPath = svg;
  qm::RunWriters(con, *lib, top, config ? config : ".layers.config", ps ? ps : "result.ps", pov ? pov : "result.pov",
                 hpgl ? hpgl : "result.plt", choice, &progress);
  return 0;
}

// A failure ends the run with its message and status; the files it leaves
// open have been written out while it unwound.
void* Worker(void* p) {
  auto* a = static_cast<Args*>(p);
  try {
    a->status = RunMain(a->con, a->argc, a->argv);
  } catch (const qm::Failure& f) {
    (f.onStdout ? a->con.out : a->con.err).put(f.message);
    a->status = f.status;
  }
  return nullptr;
}

// Writes out the standard streams and ends the process with the status.
// Standard output that could not be written whole is a failed run, as a
// drawing is.
[[noreturn]] void Finish(qm::Out& out, qm::Out& err, int status) {
  out.flush();
  if (status == 0 && out.failed()) {
    err.put("Couldn't write standard output. Aborting...\n");
    status = 1;
  }
  err.flush();
  std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  // A standard descriptor closed by the caller would be taken by the first
  // file opened (result.txt, an output file), and the echo or the messages
  // would end up inside it: park /dev/null there instead.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0) ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  // The run's standard streams.
  qm::Out out(1, false, std::size_t{1} << 20);
  qm::Out err(2, false, std::size_t{1} << 16);
  const qm::Console con{out, err};
  // Deep hierarchies are walked recursively: the work runs on a thread with
  // a stack large enough for any nesting a library can hold.
  Args args{con, argc, argv};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, std::size_t{4} << 30);
  pthread_t th;
  if (pthread_create(&th, &attr, Worker, &args) != 0) {
    pthread_attr_setstacksize(&attr, std::size_t{256} << 20);
    if (pthread_create(&th, &attr, Worker, &args) != 0) {
      Worker(&args);
      Finish(out, err, args.status);
    }
  }
  pthread_join(th, nullptr);
  Finish(out, err, args.status);
}
