#include "gds/reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <vector>

#include "common/bigmem.h"
#include "common/out.h"
#include "common/progress.h"
#include "gds/echo.h"
#include "gds/records.h"

namespace qm {

namespace {

enum : int {
  R_HEADER = 0, R_BGNLIB = 1, R_LIBNAME = 2, R_UNITS = 3, R_ENDLIB = 4, R_BGNSTR = 5, R_STRNAME = 6,
  R_ENDSTR = 7, R_BOUNDARY = 8, R_PATH = 9, R_SREF = 10, R_AREF = 11, R_TEXT = 12, R_LAYER = 13,
  R_DATATYPE = 14, R_WIDTH = 15, R_XY = 16, R_ENDEL = 17, R_SNAME = 18, R_COLROW = 19, R_NODE = 21,
  R_TEXTTYPE = 22, R_PRESENTATION = 23, R_STRING = 25, R_STRANS = 26, R_MAG = 27, R_ANGLE = 28,
  R_REFLIBS = 31, R_FONTS = 32, R_PATHTYPE = 33, R_ELFLAGS = 38, R_NODETYPE = 42, R_PROPATTR = 43,
  R_PROPVALUE = 44, R_BOX = 45, R_BOXTYPE = 46, R_PLEX = 47, R_BGNEXTN = 48, R_ENDEXTN = 49,
  R_LIBDIRSIZE = 57, R_SRFNAME = 58, R_LIBSECUR = 59,
};

// A record too short for the values its reader takes from it.
void need(const GDSrecord& r, std::size_t n) {
  if (r.size < n) fatal("Bad %s record. Aborting\n", GDSrecordName(r.type));
}

// GDSstring's text as a view into the record.
std::string_view nameView(const GDSrecord& r) {
  std::size_t n = std::min<std::size_t>(r.size, 1024);
  const void* z = std::memchr(r.data, 0, n);
  if (z) n = static_cast<std::size_t>(static_cast<const uint8_t*>(z) - r.data);
  return {reinterpret_cast<const char*>(r.data), n};
}

// Inputs from this length on have their point storage sized ahead.
constexpr uint64_t kSizeAhead = uint64_t{4} << 20;

// The elements of one kind of the structure being read. While they are few
// they gather in a buffer that every structure reuses, and go to the
// structure's vector, sized exactly, when the structure ends: the store
// then holds no grown-out copies. Past a megabyte they go straight to the
// structure's vector, which grows as vectors do. `plain` always goes
// straight.
template <class T>
class Staged {
 public:
  // `most` bounds the elements the rest of the input can hold, 0 when
  // unknown: a structure that goes straight reserves that much address
  // space at once, and never grows (the pages it does not fill cost
  // nothing).
  void start(GDSstruct::Elements<T>& dest, bool plain, uint64_t most, Prefaulter* pf) {
    dest_ = &dest;
    buf_.clear();
    direct_ = plain;
    most_ = most;
    pf_ = pf;
  }
  std::size_t size() const { return direct_ ? dest_->size() : buf_.size(); }
  void push(T&& x) {
    if (direct_) {
      dest_->push_back(std::move(x));
      if (pf_) ahead_.at(*pf_, dest_->data() + dest_->size(), dest_->data() + dest_->capacity());
      return;
    }
    buf_.push_back(std::move(x));
    if (buf_.size() * sizeof(T) >= kDirect) {
      reserveAhead();
      move();
      std::vector<T>().swap(buf_);  // a structure this large may be the only one
      direct_ = true;
    }
  }
  void finish() {
    if (!direct_) {
      dest_->reserve(dest_->size() + buf_.size());
      move();
    }
  }

 private:
  void reserveAhead() {
    const std::size_t twice = buf_.size() * 2;
    if (most_ > twice && most_ < dest_->max_size()) {
      try {
        dest_->reserve(static_cast<std::size_t>(most_));
        return;
      } catch (const std::bad_alloc&) {
        // No such address space (a strict overcommit policy): grow as usual.
      }
    }
    dest_->reserve(twice);
  }
  void move() {
    dest_->insert(dest_->end(), std::make_move_iterator(buf_.begin()), std::make_move_iterator(buf_.end()));
    buf_.clear();
  }
  static constexpr std::size_t kDirect = std::size_t{1} << 20;
  std::vector<T> buf_;
  GDSstruct::Elements<T>* dest_ = nullptr;
  bool direct_ = false;
  uint64_t most_ = 0;
  Prefaulter* pf_ = nullptr;
  FillAhead ahead_;
};

// Every element takes at least four records (its opening, an attribute, XY
// and ENDEL) of at least four bytes each.
constexpr uint64_t kLeastElementBytes = 16;

struct Placement {
  int mirror = 0;
  double mag = 1.0;
  double angle = 0.0;
};

class Reader {
 public:
  Reader(const Console& con, int fd, const ReadOptions& opt, GDSlibrary& lib, Echo& echo)
      : con_(con), rs_(fd, opt.progress), opt_(opt), lib_(lib), echo_(echo) {}

  ~Reader() { stopAhead(); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  void finishInput() {
    rs_.finish();
    stopAhead();
  }

  void readHeader() {
    GDSrecord r;
    if (rs_.read(r) != R_HEADER) fatal("HEADER is missing. Aborting\n");
    // Every point takes 8 bytes of an XY record in the input: the points of
    // a library of known length fit in one block of that length, filled
    // without ever growing.
    uint64_t len = rs_.knownLength();
    if (!opt_.plain && len >= kSizeAhead && len / sizeof(GDSpoint) < SIZE_MAX / sizeof(GDSpoint)) {
      lib_.arena.reserve(static_cast<std::size_t>(len / sizeof(GDSpoint)));
      // Large libraries get their fresh pages filled on another thread.
      ahead_.emplace();
      lib_.arena.prefaultWith(&*ahead_);
      if (lib_.store) lib_.store->prefaultWith(&*ahead_);
    }
  }

  void readLibRecords() {
    GDSrecord r;
    for (;;) {
      int t = rs_.read(r);
      switch (t) {
        case -1:
          return;  // the structure reader reports the missing ENDLIB
        case R_BGNLIB:
          readDates(r);
          echo_.printf("lastmod = %s, lastacc = %s\n", lib_.lastmod.c_str(), lib_.lastacc.c_str());
          break;
        case R_LIBNAME:
          lib_.libname = GDSstring(r.data, r.size);
          echo_.printf("libname = %s\n", lib_.libname.c_str());
          break;
        case R_UNITS:
          need(r, 16);
          lib_.userunit = GDSreal8(r.data);
          lib_.meterunit = GDSreal8(r.data + 8);
          echo_.printf("userunit = %e, meterunit = %e\n", lib_.userunit, lib_.meterunit);
          break;
        case R_BGNSTR:
        case R_ENDLIB:  // a library without structures ends in order
          rs_.unread();
          return;
        case R_REFLIBS: warn().put("Not yet handling REFLIBS!\n"); break;
        case R_FONTS: warn().put("Not yet handling FONTS!\n"); break;
        case R_LIBDIRSIZE: warn().put("Not yet handling LIBDIRSIZE!\n"); break;
        case R_SRFNAME: warn().put("Not yet handling SRFNAME!\n"); break;
        case R_LIBSECUR: warn().put("Not yet handling LIBSECUR!\n"); break;
        default: break;
      }
    }
  }

  void readDates(const GDSrecord& r) {
    need(r, 24);
    int v[12];
    for (int i = 0; i < 12; ++i) v[i] = GDSint2(r.data + 2 * i);
    char buf[160];
    std::snprintf(buf, sizeof buf, "%d/%d/%d at %d:%d:%d", v[1], v[2], v[0], v[3], v[4], v[5]);
    lib_.lastmod = buf;
    std::snprintf(buf, sizeof buf, "%d/%d/%d at %d:%d:%d", v[7], v[8], v[6], v[9], v[10], v[11]);
    lib_.lastacc = buf;
  }

  // Returns false when the library ends (ENDLIB or an early end).
  bool readStruct(GDSstruct& s) {
    GDSrecord r;
    int t = rs_.read(r);
    if (t != R_BGNSTR) {
      if (t != -1) {
        rs_.unread();
        t = rs_.read(r);
        if (t == R_ENDLIB) return false;
      }
      fatal("Missing ENDLIB field. Abort!\n");
    }
    bucketIndex_.clear();
    boxes_.clear();
    const uint64_t len = rs_.knownLength();
    const uint64_t most = len > rs_.offset() ? (len - rs_.offset()) / kLeastElementBytes : 0;
    Prefaulter* pf = ahead_ ? &*ahead_ : nullptr;
    cells_.start(s.cells, opt_.plain, most, pf);
    boundaries_.start(s.boundaries, opt_.plain, most, pf);
    paths_.start(s.paths, opt_.plain, most, pf);
    srefs_.start(s.srefs, opt_.plain, most, pf);
    arefs_.start(s.arefs, opt_.plain, most, pf);
    texts_.start(s.texts, opt_.plain, most, pf);
    for (;;) {
      t = rs_.read(r);
      switch (t) {
        case -1:
          fatal("Error in reading the GDS file. Aborting\n");
        case R_ENDLIB:
        case R_BGNSTR:
          warn().put("Incorrect record type in GDSreadStruct()\n");
          return false;
        case R_STRNAME:
          s.strname = GDSstring(r.data, r.size);
          echo_.printf("strname = %s\n", s.strname.c_str());
          break;
        case R_ENDSTR:
          finishStruct(s);
          return true;
        case R_BOUNDARY: readBoundary(s, false); break;
        case R_PATH: readPath(s); break;
        case R_SREF: readSref(); break;
        case R_AREF: readAref(); break;
        case R_TEXT: readText(s); break;
        case R_NODE:
          if (opt_.tolerant) {
            readNode();
            break;
          }
          warn().put("READING NODE NOT YET IMPLEMENTED\n");
          return false;
        case R_BOX:
          if (opt_.tolerant) {
            readBoundary(s, true);
            break;
          }
          warn().put("READING BOX NOT YET IMPLEMENTED\n");
          return false;
        default:
          warn().put("Unknown record type\n");
          break;
      }
    }
  }

  // The boundaries of the structure just read that were BOX elements.
  const std::vector<uint32_t>& boxes() const { return boxes_; }

  // Counts of records that tolerant reading skipped, by type.
  std::array<uint64_t, 61> skipped{};

 private:
  void stopAhead() {
    if (!ahead_) return;
    lib_.arena.prefaultWith(nullptr);
    if (lib_.store) lib_.store->prefaultWith(nullptr);
    ahead_.reset();
  }

  void finishStruct(GDSstruct& s) {
    cells_.finish();
    boundaries_.finish();
    paths_.finish();
    srefs_.finish();
    arefs_.finish();
    texts_.finish();
    std::reverse(s.cells.begin(), s.cells.end());
    std::reverse(s.layers.begin(), s.layers.end());
  }

  void bucket(GDSstruct& s, int32_t layer, int32_t datatype) {
    uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(layer)) << 32) | static_cast<uint32_t>(datatype);
    if (s.layers.size() < 16) {
      for (const auto& b : s.layers)
        if (b.layer == layer && b.datatype == datatype) return;
      s.layers.push_back({layer, datatype});
      if (s.layers.size() == 16)
        for (const auto& b : s.layers)
          bucketIndex_.emplace((static_cast<uint64_t>(static_cast<uint32_t>(b.layer)) << 32) |
                                   static_cast<uint32_t>(b.datatype),
                               0);
      return;
    }
    if (bucketIndex_.emplace(key, 0).second) s.layers.push_back({layer, datatype});
  }

  int next(GDSrecord& r) { return rs_.read(r); }

  // Standard error, once the echo before the message is out: the two
  // streams get their bytes in the order a plain run gives them.
  Out& warn() {
    echo_.sync();
    return con_.err;
  }

  // Tolerant reading: skips ELFLAGS and PLEX before an element's first
  // record.
  int nextSkippingElementFlags(GDSrecord& r) {
    int t = next(r);
    while (opt_.tolerant && (t == R_ELFLAGS || t == R_PLEX)) {
      ++skipped[static_cast<std::size_t>(t)];
      t = next(r);
    }
    return t;
  }
  // Tolerant reading: skips PROPATTR/PROPVALUE pairs before ENDEL.
  int nextSkippingProperties(GDSrecord& r) {
    int t = next(r);
    while (opt_.tolerant && (t == R_PROPATTR || t == R_PROPVALUE)) {
      ++skipped[static_cast<std::size_t>(t)];
      t = next(r);
    }
    return t;
  }

  GDSpoint* readPoints(const GDSrecord& r, int32_t& n) {
    std::size_t count = r.size / 8;
    n = static_cast<int32_t>(count);
    GDSpoint* pts = lib_.arena.alloc(count);
    for (std::size_t k = 0; k < count; ++k) {
      pts[k].x = GDSint4(r.data + 8 * k);
      pts[k].y = GDSint4(r.data + 8 * k + 4);
    }
    return pts;
  }

  void readBoundary(GDSstruct& s, bool box) {
    const char* kind = box ? "BOX" : "BOUNDARY";
    GDSrecord r;
    GDSboundary b;
    if (nextSkippingElementFlags(r) != R_LAYER) fatal("Missing LAYER field in %s element. Abort!\n", kind);
    need(r, 2);
    b.layer = GDSint2(r.data);
    int dtRec = box ? R_BOXTYPE : R_DATATYPE;
    if (next(r) != dtRec) fatal("Missing %s field in %s element. Abort!\n", box ? "BOXTYPE" : "DATATYPE", kind);
    need(r, 2);
    b.datatype = GDSint2(r.data);
    bucket(s, b.layer, b.datatype);
    if (next(r) != R_XY) fatal("Missing XY field in %s element. Abort!\n", kind);
    b.points = readPoints(r, b.npoints);
    if (nextSkippingProperties(r) != R_ENDEL) fatal("Missing ENDEL field in %s element. Abort!\n", kind);
    echo_.boundary(box, b.layer, b.datatype, b.points, b.npoints);
    if (box) boxes_.push_back(static_cast<uint32_t>(boundaries_.size()));
    cells_.push(GDScell{KIND_BOUNDARY, static_cast<uint32_t>(boundaries_.size())});
    boundaries_.push(std::move(b));
  }

  void readNode() {
    GDSrecord r;
    if (nextSkippingElementFlags(r) != R_LAYER) fatal("Missing LAYER field in NODE element. Abort!\n");
    need(r, 2);
    if (next(r) != R_NODETYPE) fatal("Missing NODETYPE field in NODE element. Abort!\n");
    need(r, 2);
    if (next(r) != R_XY) fatal("Missing XY field in NODE element. Abort!\n");
    if (nextSkippingProperties(r) != R_ENDEL) fatal("Missing ENDEL field in NODE element. Abort!\n");
    ++skipped[R_NODE];
  }

  void readPath(GDSstruct& s) {
    GDSrecord r;
    GDSpath p;
    if (nextSkippingElementFlags(r) != R_LAYER) fatal("Missing LAYER field in PATH element. Abort!\n");
    need(r, 2);
    p.layer = GDSint2(r.data);
    if (next(r) != R_DATATYPE) fatal("Missing DATATYPE field in PATH element. Abort!\n");
    need(r, 2);
    p.datatype = GDSint2(r.data);
    bucket(s, p.layer, p.datatype);
    int t = next(r);
    int typeRead = 0;
    if (t == R_PATHTYPE) {
      need(r, 2);
      typeRead = GDSint2(r.data);
      switch (typeRead) {
        case 0: p.pathtype = 0; break;
        case 2: p.pathtype = 2; break;
        case 1:
          p.pathtype = 2;
          warn().put("Round ended path not supported. Used extended instead\n");
          break;
        case 4:
          p.pathtype = 2;
          // Tolerant reading reports it once the extensions are known.
          if (!opt_.tolerant) warn().put("Custom ended path not supported. Used extended instead\n");
          break;
        default:
          p.pathtype = 0;
          warn().printf("Unknown pathtype %d. Used butt end instead\n", typeRead);
          break;
      }
      t = next(r);
    } else if (!opt_.tolerant) {
      fatal("Missing PATHTYPE field in PATH element. Abort!\n");
    }
    if (t == R_WIDTH) {
      need(r, 4);
      p.width = GDSint4(r.data);
      t = next(r);
    } else if (!opt_.tolerant) {
      fatal("Missing WIDTH field in PATH element. Abort!\n");
    }
    if (opt_.tolerant && typeRead == 4) {
      if (t == R_BGNEXTN) {
        need(r, 4);
        p.bgnextn = GDSint4(r.data);
        p.hasExtensions = true;
        t = next(r);
      }
      if (t == R_ENDEXTN) {
        need(r, 4);
        p.endextn = GDSint4(r.data);
        p.hasExtensions = true;
        t = next(r);
      }
    }
    if (opt_.tolerant && typeRead == 4 && !p.hasExtensions) warn().put("Custom ended path not supported. Used extended instead\n");
    if (t != R_XY) fatal("Missing XY field in PATH element. Abort!\n");
    p.points = readPoints(r, p.npoints);
    if (nextSkippingProperties(r) != R_ENDEL) fatal("Missing ENDEL field in PATH element. Abort!\n");
    echo_.printf("Path on layer %d, datatype %d, of type %d with width = %d:\n", p.layer, p.datatype, p.pathtype,
                 p.width);
    echo_.points(p.points, p.npoints);
    cells_.push(GDScell{KIND_PATH, static_cast<uint32_t>(paths_.size())});
    paths_.push(std::move(p));
  }

  // The index of a reference name in lib_.names, added when new. Looked
  // up by view: a known name costs no string.
  int32_t intern(std::string_view name) {
    auto it = nameIndex_.find(name);
    if (it != nameIndex_.end()) return it->second;
    int32_t i = static_cast<int32_t>(lib_.names.size());
    lib_.names.emplace_back(name);
    nameIndex_.emplace(std::string(name), i);
    return i;
  }

  // The optional STRANS, MAG, ANGLE group. On return r holds the first
  // record after it. `what` names the record expected after the group.
  // In tolerant reading MAG and ANGLE may come in either order.
  void readPlacement(GDSrecord& r, Placement& pl, const char* elem, const char* what, bool useMirror) {
    int t = next(r);
    if (t != R_STRANS) {
      if (t != targetType_) fatal("Missing STRANS or %s field in %s element. Abort!\n", what, elem);
      return;
    }
    need(r, 2);
    if (useMirror && (r.data[0] & 0x80)) pl.mirror = 1;
    t = next(r);
    if (t == R_MAG) {
      need(r, 8);
      pl.mag = GDSreal8(r.data);
      t = next(r);
      if (t == R_ANGLE) {
        need(r, 8);
        pl.angle = GDSreal8(r.data);
        t = next(r);
      }
      if (t != targetType_) fatal("Missing %s field in %s element. Abort!\n", what, elem);
    } else if (t == R_ANGLE) {
      need(r, 8);
      pl.angle = GDSreal8(r.data);
      t = next(r);
      if (opt_.tolerant && t == R_MAG) {
        need(r, 8);
        pl.mag = GDSreal8(r.data);
        t = next(r);
      }
      if (t != targetType_) fatal("Missing %s field in %s element. Abort!\n", what, elem);
    } else if (t != targetType_) {
      fatal("Missing MAG, ANGLE or %s field in %s element. Abort!\n", what, elem);
    }
  }

  void readSref() {
    GDSrecord r;
    GDSsref ref;
    if (nextSkippingElementFlags(r) != R_SNAME) fatal("Missing SNAME field in SREF element. Abort!\n");
    ref.sname = intern(nameView(r));
    const std::string& sname = lib_.name(ref.sname);
    Placement pl;
    targetType_ = R_XY;
    readPlacement(r, pl, "SREF", "XY", true);
    need(r, 8);
    GDSpoint origin{GDSint4(r.data), GDSint4(r.data + 4)};
    if (nextSkippingProperties(r) != R_ENDEL) fatal("Missing ENDEL field in SREF element. Abort!\n");
    ref.transf = GDSmakeTransf(origin, pl.mirror, pl.angle, pl.mag);
    echo_.sref(origin, pl.angle, pl.mag, pl.mirror, sname);
    cells_.push(GDScell{KIND_SREF, static_cast<uint32_t>(srefs_.size())});
    srefs_.push(std::move(ref));
  }

  void readAref() {
    GDSrecord r;
    GDSaref a;
    if (nextSkippingElementFlags(r) != R_SNAME) fatal("Missing SNAME field in AREF element. Abort!\n");
    a.sname = intern(nameView(r));
    const std::string& sname = lib_.name(a.sname);
    Placement pl;
    targetType_ = R_COLROW;
    readPlacement(r, pl, "AREF", "COLROW", true);
    need(r, 4);
    a.cols = GDSint2(r.data);
    a.rows = GDSint2(r.data + 2);
    if (next(r) != R_XY) fatal("Missing XY field in AREF element. Abort!\n");
    if (a.rows == 0 || a.cols == 0) fatal("AREF element with 0 rows/cols.  Abort!\n");
    need(r, 24);
    GDSpoint p1{GDSint4(r.data), GDSint4(r.data + 4)};
    GDSpoint p2{GDSint4(r.data + 8), GDSint4(r.data + 12)};
    GDSpoint p3{GDSint4(r.data + 16), GDSint4(r.data + 20)};
    a.transf = GDSmakeTransf(p1, pl.mirror, pl.angle, pl.mag);
    GDSpoint q2 = GDSinvtransfPoint(p2, a.transf);
    if (q2.x < 0) fatalOnStdout("Error in AREF! Found a y-axis mirrored array. This is impossible so I'm exiting.\n");
    if (q2.y != 0) fatalOnStdout("Error in AREF! The second point in XY is broken.\n");
    GDSpoint q3 = GDSinvtransfPoint(p3, a.transf);
    if (q3.x != 0) fatalOnStdout("Error in AREF! The third point in XY is broken.\n");
    // Divisions in 64 bits: the only quotient beyond 32 bits (the smallest
    // value divided by -1, then negated) saturates.
    auto sat = [](int64_t v) {
      return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
    };
    a.colspace = sat(static_cast<int64_t>(q2.x) / a.cols);
    int64_t rs = static_cast<int64_t>(q3.y) / a.rows;
    if (q3.y < 0) rs = -rs;
    a.rowspace = sat(rs);
    if (nextSkippingProperties(r) != R_ENDEL) fatal("Missing ENDEL field in AREF element. Abort!\n");
    echo_.printf("Aref at %d,%d/ of cell named \"%s\", c/r  = %d/%d, spacing = %d/%d, mirror = %d\n", p1.x, p1.y,
                 sname.c_str(), a.cols, a.rows, a.colspace, a.rowspace, pl.mirror);
    cells_.push(GDScell{KIND_AREF, static_cast<uint32_t>(arefs_.size())});
    arefs_.push(std::move(a));
  }

  void readText(GDSstruct& s) {
    GDSrecord r;
    GDStext tx;
    if (nextSkippingElementFlags(r) != R_LAYER) fatal("Missing LAYER field in TEXT element. Abort!\n");
    need(r, 2);
    tx.layer = GDSint2(r.data);
    if (next(r) != R_TEXTTYPE) fatal("Missing TEXTTYPE field in TEXT element. Abort!\n");
    need(r, 2);
    tx.datatype = GDSint2(r.data);
    bucket(s, tx.layer, tx.datatype);
    int t = next(r);
    if (t == R_PRESENTATION) {
      need(r, 2);
      int w = (r.data[0] << 8) | r.data[1];
      tx.font = (w >> 4) & 3;
      int v = (w >> 2) & 3;
      if (v == 3) {
        tx.vjust = 1;
        warn().put("Illegal vertical justification in TEXT element.\n");
      } else {
        tx.vjust = v;
      }
      int h = w & 3;
      if (h == 3) {
        tx.hjust = 1;
        warn().put("Illegal horizontal justification in TEXT element.\n");
      } else {
        tx.hjust = h;
      }
      if (w & 0xffc0) warn().put("Undefined bits are set in PRESENTATION\n");
    } else if (opt_.tolerant) {
      rs_.unread();
    } else {
      fatal("Missing PRESENTATION field in TEXT element. Abort!\n");
    }
    if (opt_.tolerant) {
      // Wire attributes inside a text are skipped.
      t = next(r);
      while (t == R_PATHTYPE || t == R_WIDTH) {
        ++skipped[static_cast<std::size_t>(t)];
        t = next(r);
      }
      rs_.unread();
    }
    Placement pl;
    targetType_ = R_XY;
    readPlacement(r, pl, "TEXT", "XY", false);
    need(r, 8);
    GDSpoint origin{GDSint4(r.data), GDSint4(r.data + 4)};
    if (next(r) != R_STRING) fatal("Missing STRING field in TEXT element. Abort!\n");
    tx.string = GDSstring(r.data, r.size);
    if (nextSkippingProperties(r) != R_ENDEL) fatal("Missing ENDEL field in TEXT element. Abort!\n");
    tx.transf = GDSmakeTransf(origin, 0, pl.angle, pl.mag);
    tx.mag = pl.mag;
    echo_.printf("String on layer %d, datatype %d, at %d,%d = \"%s\"\n", tx.layer, tx.datatype, origin.x, origin.y,
                 tx.string.c_str());
    echo_.printf("hjust = %d, vjust = %d, mag = %e and angle = %e\n", tx.hjust, tx.vjust, pl.mag, pl.angle);
    cells_.push(GDScell{KIND_TEXT, static_cast<uint32_t>(texts_.size())});
    texts_.push(std::move(tx));
  }

  const Console& con_;
  RecordStream rs_;
  const ReadOptions& opt_;
  GDSlibrary& lib_;
  Echo& echo_;
  int targetType_ = R_XY;
  std::optional<Prefaulter> ahead_;
  std::vector<uint32_t> boxes_;
  Staged<GDScell> cells_;
  Staged<GDSboundary> boundaries_;
  Staged<GDSpath> paths_;
  Staged<GDSsref> srefs_;
  Staged<GDSaref> arefs_;
  Staged<GDStext> texts_;
  std::unordered_map<uint64_t, int> bucketIndex_;
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view v) const { return std::hash<std::string_view>{}(v); }
  };
  std::unordered_map<std::string, int32_t, NameHash, std::equal_to<>> nameIndex_;
};

// `boxes`: the boundaries of s that were BOX elements, ascending.
void writeListing(Out& f, const GDSlibrary& lib, const GDSstruct& s, const std::vector<uint32_t>& boxes) {
  f.put("Read a struct named ");
  f.put(s.strname);
  f.put(" which contains the layers:\n");
  for (const auto& b : s.layers) {
    f.put("no. ");
    f.putInt(b.layer);
    f.put(", type ");
    f.putInt(b.datatype);
    f.put(",");
  }
  f.put("\nand the cells:\n:");
  for (const auto& c : s.cells) {
    switch (c.kind) {
      case KIND_BOUNDARY:
        f.put(!boxes.empty() && std::binary_search(boxes.begin(), boxes.end(), c.idx) ? "BOX, " : "BOUNDARY, ");
        break;
      case KIND_PATH: f.put("PATH, "); break;
      case KIND_SREF:
        f.put("SREF(");
        f.put(lib.name(s.sref(c).sname));
        f.put("), ");
        break;
      case KIND_AREF:
        f.put("AREF(");
        f.put(lib.name(s.aref(c).sname));
        f.put("), ");
        break;
      case KIND_TEXT: f.put("TEXT, "); break;
      case KIND_NODE: f.put("NODE, "); break;
      case KIND_BOX: f.put("BOX, "); break;
      default: break;
    }
  }
  f.put("\n\n");
}

}  // namespace

namespace {

// Reads the library, writing the listing to `listing`; `listed()` runs once
// every structure has been listed.
template <class Listed>
std::unique_ptr<GDSlibrary> readLibrary(const Console& con, int fd, Out& listing, const ReadOptions& opt,
                                        Listed listed) {
  auto lib = std::make_unique<GDSlibrary>();
  if (!opt.plain) lib->store = std::make_unique<ElementStore>();
  std::pmr::memory_resource* store = opt.plain ? std::pmr::new_delete_resource() : lib->store.get();
  // The echo is formatted on a second thread, unless the plain way is
  // asked for or a status line shares the terminal (it erases itself before
  // each write to standard output, from the thread that writes).
  Echo echo(con.out, !opt.plain && !(opt.progress && opt.progress->active()));
  Reader rd(con, fd, opt, *lib, echo);
  rd.readHeader();
  rd.readLibRecords();
  std::vector<GDSstruct> structs;  // file order while reading
  for (;;) {
    GDSstruct s(store);
    if (!rd.readStruct(s)) break;
    writeListing(listing, *lib, s, rd.boxes());
    structs.push_back(std::move(s));
  }
  rd.finishInput();
  listed();
  echo.sync();  // what follows writes to the standard streams itself
  std::reverse(structs.begin(), structs.end());
  lib->structs = std::move(structs);
  lib->buildIndex();
  if (opt.tolerant) {
    for (int t = 0; t <= 60; ++t)
      if (rd.skipped[static_cast<std::size_t>(t)])
        con.err.printf("Skipped %llu %s records\n", static_cast<unsigned long long>(rd.skipped[static_cast<std::size_t>(t)]),
                     GDSrecordName(t));
  }
  // Bind every reference to the first structure of its name, looked up
  // once per name rather than once per reference.
  std::vector<int32_t> target(lib->names.size());
  for (std::size_t i = 0; i < target.size(); ++i) target[i] = lib->indexOf(lib->names[i]);
  Out& o = con.out;
  for (auto& s : lib->structs) {
    for (const auto& c : s.cells) {
      if (c.kind == KIND_SREF) {
        auto& r = s.srefs[c.idx];
        r.structptr = target[static_cast<std::size_t>(r.sname)];
        if (r.structptr >= 0) {
          o.put("Fixed reference for SREF \"");
          o.put(lib->name(r.sname));
          o.put("\"\n");
        }
      } else if (c.kind == KIND_AREF) {
        auto& a = s.arefs[c.idx];
        a.structptr = target[static_cast<std::size_t>(a.sname)];
        if (a.structptr >= 0) {
          o.put("Fixed reference for AREF \"");
          o.put(lib->name(a.sname));
          o.put("\"\n");
        }
      }
    }
  }
  return lib;
}

}  // namespace

std::unique_ptr<GDSlibrary> GDSreadLibrary(const Console& con, int fd, Out& listing, const ReadOptions& opt) {
  return readLibrary(con, fd, listing, opt, [] {});
}

std::unique_ptr<GDSlibrary> GDSreadLibrary(const Console& con, int fd, const std::string& listingPath,
                                           const ReadOptions& opt) {
  auto listing = openOutFile(listingPath);
  if (!listing) fatal("Couldn't open %s for writing\n", listingPath.c_str());
  return readLibrary(con, fd, *listing, opt, [&] {
    if (!listing->close()) fatal("Couldn't write %s\n", listingPath.c_str());
  });
}

}  // namespace qm
