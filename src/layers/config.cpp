// The layer configuration parser, the layer table and its lookup.
//
// The file is read line by line through a 1024-byte buffer, exactly as
// fgets fills it: a longer line is handled as several lines, each piece
// counted, and a piece that starts with '#' is a comment. Tokens are
// separated by blanks, tabs and newlines; a NUL byte ends a line's tokens.
#include "layers/config.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/out.h"

namespace qm {
namespace {

// Splits a NUL-terminated line in place, like strtok with " \t\n".
class Tokens {
 public:
  explicit Tokens(char* line) : p_(line) {}
  char* next() {
    while (*p_ == ' ' || *p_ == '\t' || *p_ == '\n') ++p_;
    if (*p_ == '\0') return nullptr;
    char* tok = p_;
    while (*p_ != '\0' && *p_ != ' ' && *p_ != '\t' && *p_ != '\n') ++p_;
    if (*p_ != '\0') *p_++ = '\0';
    return tok;
  }

 private:
  char* p_;
};

void resetEntry(LayerEntry& e) {
  e.name.clear();
  e.hasName = false;
  e.gdsno = 0;
  e.datatype = 0;
  e.hasDatatype = 0;
  e.hidden = 1;
  e.red = e.green = e.blue = 0;
  e.fill = 0;
  e.hatch = 0;
  e.angle = 0;
  e.step = 100;
  e.thickness = 0;
  e.depth = 0;
}

// Brings an angle into [0, 180] the way repeated subtraction and addition
// of 180 would. For |a| below 2^55 every one of those steps is exact, so
// the remainder gives the same bits in one step; above that the remainder
// is the mathematically right value. Infinities have no such value and are
// refused by the caller.
double normaliseAngle(double a) {
  if (a > 180) {
    double r = std::fmod(a, 180.0);
    return r == 0 ? 180.0 : r;
  }
  if (a < 0) {
    double r = std::fmod(a, 180.0);
    return r == 0 ? 0.0 : r + 180.0;
  }
  return a;
}

bool isKeywordInitial(char c) {
  switch (c) {
    case 'a': case 'b': case 'd': case 'e': case 'f': case 'g':
    case 'h': case 'n': case 'r': case 's': case 't':
      return true;
    default:
      return false;
  }
}

class Parser {
 public:
  Parser(const Console& con, std::FILE* in, LayerTable& table) : con_(con), in_(in), table_(table) {}

  int run() {
    con_.out.put("dummy hidden layer body\n");
    LayerEntry& e0 = table_.entries[0];
    resetEntry(e0);
    e0.name = "NULL";
    e0.hasName = true;
    e0.gdsno = -1;
    cur_ = 1;

    char buf[1024];
    while (!std::feof(in_)) {
      if (!std::fgets(buf, sizeof buf, in_)) break;
      ++line_;
      if (buf[0] == '#') continue;
      Tokens toks(buf);
      while (char* tok = toks.next()) keyword(tok, toks);
    }
    return cur_;
  }

 private:
  // The slot being filled. Once the table is full, keywords after the last
  // block go to a scratch entry: they have no effect, as for any keywords
  // after the last "endlayer".
  LayerEntry& entry() {
    return cur_ < LayerTable::kCapacity ? table_.entries[static_cast<std::size_t>(cur_)] : scratch_;
  }

  void keyword(const char* tok, Tokens& toks) {
    if (std::strcmp(tok, "newlayer") == 0) {
      con_.out.put("new layer body\n");
      resetEntry(entry());
      red_ = green_ = blue_ = 0;
    } else if (std::strcmp(tok, "name") == 0) {
      const char* v = toks.next();
      if (!v) fatal("Syntax error at line %lld: missing layer name\n", line_);
      entry().name = v;
      entry().hasName = true;
    } else if (std::strcmp(tok, "gdsno") == 0) {
      entry().gdsno = integer(toks.next());
    } else if (std::strcmp(tok, "datatype") == 0) {
      entry().datatype = integer(toks.next());
      entry().hasDatatype = 1;
    } else if (std::strcmp(tok, "hidden") == 0) {
      entry().hidden = yesNo(toks.next());
    } else if (std::strcmp(tok, "fill") == 0) {
      entry().fill = yesNo(toks.next());
    } else if (std::strcmp(tok, "hatch") == 0) {
      const char* v = word(toks.next());
      if (std::strcmp(v, "no") == 0 || std::strcmp(v, "false") == 0) entry().hatch = 0;
      else if (std::strcmp(v, "single") == 0) entry().hatch = 1;
      else if (std::strcmp(v, "cross") == 0) entry().hatch = 2;
      else unknown(v);
    } else if (std::strcmp(tok, "red") == 0) {
      red_ = real(toks.next());
    } else if (std::strcmp(tok, "green") == 0) {
      green_ = real(toks.next());
    } else if (std::strcmp(tok, "blue") == 0) {
      blue_ = real(toks.next());
    } else if (std::strcmp(tok, "angle") == 0) {
      const char* v = toks.next();
      double a = real(v);
      if (std::isinf(a)) badNumber(v);  // no angle in [0, 180] stands for it
      entry().angle = normaliseAngle(a);
    } else if (std::strcmp(tok, "step") == 0) {
      entry().step = real(toks.next());
    } else if (std::strcmp(tok, "thickness") == 0) {
      entry().thickness = real(toks.next());
    } else if (std::strcmp(tok, "depth") == 0) {
      entry().depth = real(toks.next());
    } else if (std::strcmp(tok, "endlayer") == 0) {
      endLayer();
    } else if (isKeywordInitial(tok[0])) {
      unknown(tok);
    } else {
      con_.err.printf("token = %s\n", tok);
    }
  }

  void endLayer() {
    if (cur_ >= LayerTable::kCapacity) fatal("Syntax error at line %lld: too many layers\n", line_);
    LayerEntry& e = entry();
    e.red = red_;
    e.blue = blue_;
    e.green = green_;
    if (!e.hasName) {
      char name[32];
      std::snprintf(name, sizeof name, "Layer%d", static_cast<int>(e.gdsno));
      e.name = name;
      e.hasName = true;
    }
    con_.out.printf(
        "layername = %s, gdsno = %d, type = %d, hidden = %d, red = %.2f, green = %.2f, blue = %.2f,\n"
        " fill = %d hatch = %d, angle = %.2f, step = %.2f, depth = %.2f, thickness = %.2f\n",
        e.name.c_str(), static_cast<int>(e.gdsno), e.hasDatatype ? static_cast<int>(e.datatype) : -1,
        static_cast<int>(e.hidden), e.red, e.green, e.blue, static_cast<int>(e.fill),
        static_cast<int>(e.hatch), e.angle, e.step, e.depth, e.thickness);
    ++cur_;
  }

  [[noreturn]] void unknown(const char* tok) {
    fatal("Syntax error at line %lld: unknown token %s\n", line_, tok);
  }
  [[noreturn]] void badNumber(const char* tok) {
    fatal("Syntax error at line %lld: bad number syntax %s\n", line_, tok);
  }

  const char* word(const char* v) {
    if (!v) fatal("Syntax error at line %lld: missing token\n", line_);
    return v;
  }

  int32_t yesNo(const char* tok) {
    const char* v = word(tok);
    if (std::strcmp(v, "yes") == 0 || std::strcmp(v, "true") == 0) return 1;
    if (std::strcmp(v, "no") == 0 || std::strcmp(v, "false") == 0) return 0;
    unknown(v);
  }

  // Decimal integer from the longest prefix (after optional white space).
  // A value beyond 32 bits keeps its low 32 bits, as the conversion to int
  // does on this platform. No digits at all is a syntax error.
  int32_t integer(const char* v) {
    if (!v) fatal("Syntax error at line %lld: missing number\n", line_);
    errno = 0;
    char* end = nullptr;
    long x = std::strtol(v, &end, 10);
    if (errno == EINVAL || end == v) badNumber(v);
    return static_cast<int32_t>(x);
  }

  // Decimal real from the longest prefix; no numeric prefix is an error.
  double real(const char* v) {
    if (!v) fatal("Syntax error at line %lld: missing number\n", line_);
    errno = 0;
    char* end = nullptr;
    double x = std::strtod(v, &end);
    if (errno == EINVAL || end == v) badNumber(v);
    return x;
  }

  Console con_;
  std::FILE* in_;
  LayerTable& table_;
  LayerEntry scratch_;
  int cur_ = 1;
  long long line_ = 0;
  double red_ = 0, green_ = 0, blue_ = 0;
};

}  // namespace

LayerTable::LayerTable() : entries(kCapacity) {}

int ReadLayerConfig(const Console& con, std::FILE* in, LayerTable& table) {
  if (table.entries.size() < static_cast<std::size_t>(LayerTable::kCapacity))
    table.entries.resize(LayerTable::kCapacity);
  int n = Parser(con, in, table).run();
  table.layerCount = n;
  table.ClearLookupCache();
  return n;
}

int LayerTable::ScanLayerEntry(int32_t layer, int32_t datatype) const {
  int n = layerCount;
  if (n > static_cast<int>(entries.size())) n = static_cast<int>(entries.size());
  int found = -1;
  for (int i = 0; i < n; ++i) {
    const LayerEntry& e = entries[static_cast<std::size_t>(i)];
    if (e.gdsno != layer) continue;
    if (e.hasDatatype) {
      if (e.datatype == datatype) return i;
    } else {
      found = i;
    }
  }
  return found;
}

int LayerTable::FindLayerEntry(const Console& con, int32_t layer, int32_t datatype) const {
  int idx;
  if (cacheCount_ != layerCount) {
    lookupCache_.clear();
    cacheCount_ = layerCount;
  }
  uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(layer)) << 32) | static_cast<uint32_t>(datatype);
  auto it = lookupCache_.find(key);
  if (it != lookupCache_.end()) {
    idx = it->second;
  } else {
    idx = ScanLayerEntry(layer, datatype);
    lookupCache_.emplace(key, idx);
  }
  if (idx < 0) {
    con.err.printf("Warning: Layer %d, datatype %d found with no corresponding\n layer entry in configuration file.\n",
                   static_cast<int>(layer), static_cast<int>(datatype));
    return 0;
  }
  return idx;
}

}  // namespace qm
