// layergen: turns a table of layers on standard input into a layer
// configuration on standard output.
//
// Each record is four fields separated by white space: a name, a second
// word, the GDSII layer number and a second integer (the second word and
// the second integer are read and ignored). Fields are taken the way the
// scanf pattern " %s %s %d %d " takes them, so records may be split over
// lines or share lines. The first record of each layer number produces a
// block; later records with the same number are skipped.
//
// Choices made where the format leaves room:
// - every int layer number is accepted, negative ones and those above 255
//   included, and duplicates are found among all of them;
// - words have no length limit;
// - a number outside the int range cannot be stored, so it counts as a
//   field that could not be converted: "ERROR: incomplete read.", status 1.
//
// With --lyp FILE (and optionally --stack FILE) the configuration comes from
// a KLayout layer-properties file instead (lyp.cpp); standard input is not
// read. Arguments are only looked at when one of them is --lyp or --stack,
// so every other command line keeps ignoring them.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "lyp.h"

namespace {

// Standard input with one character of look-ahead.
class Input {
 public:
  Input() : len_(0), pos_(0) {}
  // The next byte, or EOF; does not consume it.
  int peek() {
    if (pos_ == len_ && !fill()) return EOF;
    return static_cast<unsigned char>(buf_[pos_]);
  }
  void advance() { ++pos_; }
  void skipSpace() {
    for (int c = peek(); c != EOF && std::isspace(c); c = peek()) advance();
  }

 private:
  bool fill() {
    if (eof_) return false;
    len_ = std::fread(buf_, 1, sizeof buf_, stdin);
    pos_ = 0;
    if (len_ == 0) eof_ = true;
    return len_ > 0;
  }
  char buf_[1 << 16];
  std::size_t len_, pos_;
  bool eof_ = false;
};

// %s: skips white space, then takes every byte up to the next white space.
bool readWord(Input& in, std::string& w) {
  in.skipSpace();
  w.clear();
  for (int c = in.peek(); c != EOF && !std::isspace(c); c = in.peek()) {
    w.push_back(static_cast<char>(c));
    in.advance();
  }
  return !w.empty();
}

// %d: skips white space, an optional sign, then at least one digit. A value
// outside the int range fails.
bool readInt(Input& in, int& v) {
  in.skipSpace();
  bool neg = false;
  int c = in.peek();
  if (c == '+' || c == '-') {
    neg = c == '-';
    in.advance();
    c = in.peek();
  }
  if (c == EOF || !std::isdigit(c)) return false;
  long long mag = 0;
  bool overflow = false;
  for (; c != EOF && std::isdigit(c); c = in.peek()) {
    if (!overflow) {
      mag = mag * 10 + (c - '0');
      if (mag > static_cast<long long>(INT_MAX) + 1) overflow = true;
    }
    in.advance();
  }
  if (overflow) return false;
  if (neg) mag = -mag;
  if (mag < INT_MIN || mag > INT_MAX) return false;
  v = static_cast<int>(mag);
  return true;
}

[[noreturn]] void incompleteRead() {
  std::fflush(stdout);
  std::fputs("ERROR: incomplete read.", stderr);
  std::fflush(stderr);
  std::exit(1);
}

void writeBlock(int n, const std::string& name) {
  // Integer division and remainder truncate toward zero, as in C.
  int a = n / 16;
  int c = (n % 16) / 4;
  int b = n % 4;
  double red = 0.2 + 0.2 * a;
  double green = 0.2 + 0.2 * c;
  double blue = 0.2 + 0.2 * b;
  // The name is written as a C string: a NUL byte in it ends it.
  std::printf("newlayer\n gdsno %d\n hidden %s\n name %s\n red %1.1f\n green %2.1f\n blue %.1f\n", n, "yes",
              name.c_str(), red, green, blue);
  std::printf(" fill %s\n hatch %s\n angle %.1f\n step %.1f\n thickness %f\n depth %f\n", "no", "cross", 45.0, 3.0,
              0.1, 0.1 * n);
  std::fputs("endlayer\n\n", stdout);
}

bool isLypOption(const std::string& a) {
  return a == "--lyp" || a == "--stack" || a.rfind("--lyp=", 0) == 0 || a.rfind("--stack=", 0) == 0;
}

const char kUsage[] =
    "usage: layergen < table > layers.config\n"
    "       layergen --lyp FILE [--stack FILE] > layers.config\n"
    "  --lyp FILE    write the configuration from a KLayout layer-properties file (.lyp)\n"
    "                instead of the table on standard input\n"
    "  --stack FILE  lines LAYER/DATATYPE depth thickness (microns) for the 3-D scene;\n"
    "                layers not listed keep depth 0.1 * LAYER and thickness 0.1\n";

[[noreturn]] void usageError(const std::string& why) {
  std::fprintf(stderr, "layergen: %s\n%s", why.c_str(), kUsage);
  std::exit(1);
}

int runLyp(const std::vector<std::string>& args) {
  layergen::LypRequest req;
  bool haveLyp = false, haveStack = false;
  // Takes the file name of option `o` at args[i] ("--o FILE" or "--o=FILE").
  auto take = [&](std::size_t& i, const std::string& o, std::string& path, bool& have) {
    const std::string& a = args[i];
    std::string value;
    if (a == o) {
      if (i + 1 >= args.size()) usageError(o + " needs a file name");
      value = args[++i];
    } else if (a.rfind(o + "=", 0) == 0) {
      value = a.substr(o.size() + 1);
    } else {
      return false;
    }
    if (value.empty()) usageError(o + " needs a file name");
    if (have) usageError(o + " given twice");
    have = true;
    path = value;
    return true;
  };
  for (std::size_t i = 0; i < args.size(); ++i)
    if (!take(i, "--lyp", req.lypPath, haveLyp) && !take(i, "--stack", req.stackPath, haveStack))
      usageError("unknown argument '" + args[i] + "'");
  if (!haveLyp) usageError("--stack needs --lyp");

  layergen::LypOutcome res = layergen::configFromLyp(req);
  for (const std::string& w : res.warnings) std::fprintf(stderr, "layergen: warning: %s\n", w.c_str());
  if (!res.ok) {
    std::fprintf(stderr, "layergen: %s\n", res.error.c_str());
    return 1;
  }
  std::fwrite(res.text.data(), 1, res.text.size(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "layergen: cannot write the configuration: %s\n", std::strerror(errno));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  for (const std::string& a : args)
    if (isLypOption(a)) return runLyp(args);

  static char outBuf[1 << 16];
  std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);

  Input in;
  std::unordered_set<int> seen;
  std::string name, type;
  // One record per turn while input remains; the trailing white space of a
  // record is consumed with it, so the loop ends right after the last one.
  do {
    int layer = 0, other = 0;
    if (!readWord(in, name) || !readWord(in, type) || !readInt(in, layer) || !readInt(in, other)) incompleteRead();
    in.skipSpace();
    if (seen.insert(layer).second) writeBlock(layer, name);
  } while (in.peek() != EOF);
  std::fflush(stdout);
  return 0;
}
