// The POV-Ray scene writer: header, camera and light, one texture per
// visible layer entry, one declaration per structure reachable from the top
// (children before parents), and the final object.
//
// The walks here give the bytes of walks that follow the hierarchy
// completely at every call, with less work:
// - the visible count of a structure is computed once; a later count only
//   repeats the lookup warnings of the subtree, by a walk that enters only
//   subtrees holding unconfigured layers;
// - the ordering walk enters each structure once; when it meets a structure
//   again it only repeats the names that the finder would echo below it;
// - layer lookups, texture identifiers and escaped names are remembered.
// A structure whose subtree has been walked completely holds no cycle, so
// neither repetition needs the descent guard: no structure on the current
// descent path can lie below it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/out.h"
#include "common/progress.h"
#include "geom/extent.h"
#include "gds/numeric.h"
#include "geom/outline.h"
#include "geom/transf.h"
#include "geom/walk.h"
#include "pov/pov.h"

namespace qm {
namespace {

// A name inside a line comment: control bytes (a line break would end the
// comment and leave the rest of the name to the parser) are written as
// \ooo; everything else as it is.
std::string commentText(const std::string& name) {
  std::string t;
  t.reserve(name.size());
  for (unsigned char c : name) {
    if (c < 32 || c == 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      t += buf;
    } else {
      t += static_cast<char>(c);
    }
  }
  return t;
}


int32_t wrapAdd32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// Numbers written into the scene are always finite.
double finite(double v) { return std::isfinite(v) ? v : 0.0; }

// The structures named in declaration order: each name once, after every
// structure it references.
struct POVstructList {
  struct Node {
    std::string name;
    int32_t idx;  // the structure the name finds, -1 when none
  };
  std::vector<Node> nodes;
};

class SceneWriter {
 public:
  SceneWriter(const Console& con, const GDSlibrary& lib, const LayerTable& table, Out& f)
      : con_(con), lib_(lib), table_(table), f_(f) {
    std::size_t n = lib.structs.size();
    countDone_.assign(n, 0);
    count_.assign(n, 0);
    hasWarn_.assign(n, 0);
    orderDone_.assign(n, 0);
    listed_.assign(n, 0);
  }

  // The echo is written from the library's own text: it is written out
  // before the writer is done, whichever way it ends.
  ~SceneWriter() { con_.out.releaseStable(); }
  SceneWriter(const SceneWriter&) = delete;
  SceneWriter& operator=(const SceneWriter&) = delete;

  void writeScene(const GDSstruct& top, const std::string& topName);

 private:
  // Layer lookups.
  int silentEntry(int32_t layer, int32_t datatype);
  int lookup(int32_t layer, int32_t datatype);
  bool visible(int i) const { return table_[i].hidden == 0; }
  const std::string& texture(int32_t layer, int32_t datatype);

  // Visible counts.
  int64_t countVisible(int32_t idx);  // idx is on the descent path already
  int64_t countWalk(int32_t root);
  void replayWarnings(int32_t idx);
  template <class Visit>
  void replayWalk(int32_t idx, Visit visit);
  int64_t countReference(int32_t structptr);

  // Declaration order.
  void orderStructs(const std::string& topName);
  void replayEcho(int32_t idx);

  // Declarations and elements.
  bool declareStruct(const POVstructList::Node& node);
  void writeBoundary(const GDSboundary& b, const LayerEntry& e);
  void writePath(const GDSpath& p, const LayerEntry& e);
  void writeSref(int32_t sname, const GDStransf& m);
  void writeAref(const GDSaref& a, const GDStransf& t);
  const std::string& escapedRef(int32_t sname);
  // Identifier of a structure name in this scene.
  std::string identifier(const std::string& name) const { return POVidentifier(distinctIds_, name); }

  void num(double v) { f_.putFixed6(finite(v)); }
  void coord(int32_t v) {
    f_.putInt(v);
    f_.write(".000000", 7);
  }

  Console con_;
  const GDSlibrary& lib_;
  const LayerTable& table_;
  Out& f_;

  std::unordered_map<uint64_t, int> entryCache_;
  std::unordered_map<int, std::string> textureCache_;
  std::unordered_map<int32_t, std::string> escapedCache_;
  // Names of the scene whose escaped identifier another of its names also
  // escapes to, with the distinct identifier each gets instead.
  POVidentifiers distinctIds_;

  std::vector<uint8_t> countDone_;
  std::vector<int64_t> count_;
  std::vector<uint8_t> hasWarn_;

  std::vector<uint8_t> orderDone_;
  std::vector<uint8_t> listed_;
  std::unordered_set<std::string> listedUnbound_;
  POVstructList list_;

  std::vector<GDSpoint> outline_;
  struct Frame {
    int32_t idx;
    std::size_t pos;
    int64_t count;
    bool warn;
  };
  std::vector<Frame> frames_;
  std::vector<Frame> replayFrames_;
};

// ---------------------------------------------------------------------------
// Layer lookups

int SceneWriter::silentEntry(int32_t layer, int32_t datatype) {
  uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(layer)) << 32) | static_cast<uint32_t>(datatype);
  auto it = entryCache_.find(key);
  if (it != entryCache_.end()) return it->second;
  int i = table_.ScanLayerEntry(layer, datatype);
  entryCache_.emplace(key, i);
  return i;
}

// FindLayerEntry with its warning, as often as a walk through everything
// would call it.
int SceneWriter::lookup(int32_t layer, int32_t datatype) {
  int i = silentEntry(layer, datatype);
  if (i < 0) return table_.FindLayerEntry(con_, layer, datatype);
  return i;
}

const std::string& SceneWriter::texture(int32_t layer, int32_t datatype) {
  int i = lookup(layer, datatype);
  auto it = textureCache_.find(i);
  if (it == textureCache_.end()) it = textureCache_.emplace(i, POVtextureName(table_, i)).first;
  return it->second;
}

// ---------------------------------------------------------------------------
// Visible counts
//
// The count of a structure is the number of its layer buckets on visible
// entries plus the number of its references whose structure counts above
// zero. The buckets are looked up first, then the references in cell order.

bool isReference(const GDScell& c) { return c.kind == KIND_SREF || c.kind == KIND_AREF; }

int32_t referenceTarget(const GDSstruct& s, const GDScell& c) {
  return c.kind == KIND_SREF ? s.sref(c).structptr : s.aref(c).structptr;
}

}  // namespace

// Different structure names can escape to one identifier (a-b and a.b both
// give aE_b), and the later declaration would replace the earlier one. Among
// the structures reachable from the top, the names of such a group are put
// in byte order: the first keeps the identifier, each other one gets the
// identifier followed by _2, _3, ... (cut to leave room), skipping any
// identifier already in use. A scene without such a group is unchanged.
POVidentifiers POVdistinctIdentifiers(const GDSlibrary& lib, int32_t topIdx) {
  POVidentifiers distinct;
  if (topIdx < 0) return distinct;
  std::vector<uint8_t> seen(lib.structs.size(), 0);
  std::vector<int32_t> todo{topIdx};
  seen[static_cast<std::size_t>(topIdx)] = 1;
  std::unordered_map<std::string, std::vector<std::string>> byId;
  std::unordered_set<std::string> names, used;
  while (!todo.empty()) {
    const GDSstruct& s = lib.structs[static_cast<std::size_t>(todo.back())];
    todo.pop_back();
    if (names.insert(s.strname).second) {
      std::string id = POVescapeName(s.strname);
      used.insert(id);
      byId[id].push_back(s.strname);
    }
    for (const GDScell& c : s.cells) {
      if (!isReference(c)) continue;
      int32_t child = referenceTarget(s, c);
      if (child >= 0 && !seen[static_cast<std::size_t>(child)]) {
        seen[static_cast<std::size_t>(child)] = 1;
        todo.push_back(child);
      }
    }
  }
  std::vector<std::string> ids;
  for (const auto& [id, group] : byId)
    if (group.size() > 1) ids.push_back(id);
  std::sort(ids.begin(), ids.end());
  for (const std::string& id : ids) {
    std::vector<std::string> group = byId[id];
    std::sort(group.begin(), group.end());
    int k = 2;
    for (std::size_t g = 1; g < group.size(); ++g) {
      std::string fresh;
      do {
        char suffix[16];
        int n = std::snprintf(suffix, sizeof suffix, "_%d", k++);
        fresh.assign(id, 0, std::min(id.size(), std::size_t{40} - static_cast<std::size_t>(n)));
        fresh.append(suffix, static_cast<std::size_t>(n));
      } while (used.count(fresh) || POVisReserved(fresh));
      used.insert(fresh);
      distinct.emplace(group[g], fresh);
    }
  }
  return distinct;
}

namespace {

// Each count is a walk of its own, with the counted structure at the top of
// its descent path.
int64_t SceneWriter::countVisible(int32_t idx) {
  if (countDone_[static_cast<std::size_t>(idx)]) {
    replayWarnings(idx);
    return count_[static_cast<std::size_t>(idx)];
  }
  return countWalk(idx);
}

int64_t SceneWriter::countReference(int32_t structptr) {
  if (structptr < 0) return 0;  // a name that matches no structure: nothing visible
  if (countDone_[static_cast<std::size_t>(structptr)]) {
    replayWarnings(structptr);
    return count_[static_cast<std::size_t>(structptr)];
  }
  TopDescent guard(lib_, lib_.structs[static_cast<std::size_t>(structptr)]);
  return countWalk(structptr);
}

int64_t SceneWriter::countWalk(int32_t root) {
  std::deque<Descent> guards;
  std::vector<Frame>& st = frames_;
  std::size_t base = st.size();
  auto enter = [&](int32_t idx) {
    const GDSstruct& s = lib_.structs[static_cast<std::size_t>(idx)];
    Frame fr{idx, 0, 0, false};
    for (const GDSlayer& l : s.layers) {
      if (visible(lookup(l.layer, l.datatype))) ++fr.count;
      if (silentEntry(l.layer, l.datatype) < 0) fr.warn = true;
    }
    st.push_back(fr);
  };
  enter(root);
  for (;;) {
    Frame& fr = st.back();
    const GDSstruct& s = lib_.structs[static_cast<std::size_t>(fr.idx)];
    if (fr.pos < s.cells.size()) {
      const GDScell& c = s.cells[fr.pos++];
      if (!isReference(c)) continue;
      int32_t child = referenceTarget(s, c);
      if (child < 0) continue;
      std::size_t ci = static_cast<std::size_t>(child);
      if (countDone_[ci]) {
        replayWarnings(child);
        if (count_[ci] > 0) ++fr.count;
        if (hasWarn_[ci]) fr.warn = true;
        continue;
      }
      guards.emplace_back(lib_, child);
      enter(child);
      continue;
    }
    Frame done = fr;
    st.pop_back();
    {
      std::size_t di = static_cast<std::size_t>(done.idx);
      countDone_[di] = 1;
      count_[di] = done.count;
      hasWarn_[di] = done.warn;
    }
    if (st.size() == base) return done.count;
    guards.pop_back();
    if (done.count > 0) ++st.back().count;
    if (done.warn) st.back().warn = true;
  }
}

// Walks the references below idx depth first, in cell order: `visit(child)`
// for each one (child -1 when unbound) says whether to go into it.
template <class Visit>
void SceneWriter::replayWalk(int32_t idx, Visit visit) {
  std::vector<Frame>& st = replayFrames_;
  std::size_t base = st.size();
  st.push_back(Frame{idx, 0, 0, false});
  while (st.size() > base) {
    Frame& fr = st.back();
    const GDSstruct& s = lib_.structs[static_cast<std::size_t>(fr.idx)];
    if (fr.pos == s.cells.size()) {
      st.pop_back();
      continue;
    }
    const GDScell& c = s.cells[fr.pos++];
    if (!isReference(c)) continue;
    int32_t child = referenceTarget(s, c);
    if (visit(child) && child >= 0) st.push_back(Frame{child, 0, 0, false});
  }
}

// Repeats the lookup warnings that a full count of idx prints, in order.
void SceneWriter::replayWarnings(int32_t idx) {
  if (!hasWarn_[static_cast<std::size_t>(idx)]) return;
  auto warnBuckets = [&](int32_t i) {
    for (const GDSlayer& l : lib_.structs[static_cast<std::size_t>(i)].layers)
      if (silentEntry(l.layer, l.datatype) < 0) table_.FindLayerEntry(con_, l.layer, l.datatype);
  };
  warnBuckets(idx);
  replayWalk(idx, [&](int32_t child) {
    if (child < 0 || !hasWarn_[static_cast<std::size_t>(child)]) return false;
    warnBuckets(child);
    return true;
  });
}

// ---------------------------------------------------------------------------
// Declaration order: a depth-first post-order by name from the top. Every
// visit finds its structure by name, which echoes names on standard output.

void SceneWriter::orderStructs(const std::string& topName) {
  int32_t topIdx = lib_.indexOf(topName);
  con_.out.putStable(lib_.findEcho(topIdx));
  if (topIdx < 0) {
    if (listedUnbound_.insert(topName).second) list_.nodes.push_back({topName, -1});
    return;
  }
  std::vector<Frame>& st = frames_;
  std::size_t base = st.size();
  std::deque<Descent> guards;
  TopDescent top(lib_, lib_.structs[static_cast<std::size_t>(topIdx)]);
  st.push_back(Frame{topIdx, 0, 0, false});
  for (;;) {
    Frame& fr = st.back();
    const GDSstruct& s = lib_.structs[static_cast<std::size_t>(fr.idx)];
    if (fr.pos < s.cells.size()) {
      const GDScell& c = s.cells[fr.pos++];
      if (!isReference(c)) continue;
      int32_t child = referenceTarget(s, c);
      if (child < 0) {
        int32_t sname = c.kind == KIND_SREF ? s.sref(c).sname : s.aref(c).sname;
        const std::string& name = lib_.name(sname);
        con_.out.putStable(lib_.findEcho(-1));
        if (listedUnbound_.insert(name).second) list_.nodes.push_back({name, -1});
        continue;
      }
      if (orderDone_[static_cast<std::size_t>(child)]) {
        replayEcho(child);
        continue;
      }
      guards.emplace_back(lib_, child);
      con_.out.putStable(lib_.findEcho(child));
      st.push_back(Frame{child, 0, 0, false});
      continue;
    }
    std::size_t di = static_cast<std::size_t>(fr.idx);
    orderDone_[di] = 1;
    if (!listed_[di]) {
      listed_[di] = 1;
      list_.nodes.push_back({lib_.structs[di].strname, fr.idx});
    }
    st.pop_back();
    if (st.size() == base) return;
    guards.pop_back();
  }
}

// The echo of an ordering walk through a structure that has been walked.
void SceneWriter::replayEcho(int32_t idx) {
  con_.out.putStable(lib_.findEcho(idx));
  replayWalk(idx, [&](int32_t child) {
    con_.out.putStable(lib_.findEcho(child));
    return true;
  });
}

// ---------------------------------------------------------------------------
// Declarations

const std::string& SceneWriter::escapedRef(int32_t sname) {
  auto it = escapedCache_.find(sname);
  if (it == escapedCache_.end()) it = escapedCache_.emplace(sname, identifier(lib_.name(sname))).first;
  return it->second;
}


// A polygon of fewer than three points has no area and no prism.
bool drawable(const GDSboundary& b) { return b.npoints >= 3; }

bool SceneWriter::declareStruct(const POVstructList::Node& node) {
  con_.out.putStable(lib_.findEcho(node.idx));
  const GDSstruct* s = node.idx < 0 ? nullptr : &lib_.structs[static_cast<std::size_t>(node.idx)];
  if (!s) {
    con_.err.printf("Couldn't find the structure named \"%s\"\n", node.name.c_str());
    return false;
  }
  int32_t idx = static_cast<int32_t>(s - lib_.structs.data());
  int64_t visibleCount;
  {
    TopDescent guard(lib_, *s);
    visibleCount = countVisible(idx);
  }
  if (visibleCount == 0) return false;

  GDSbbox bb = GDSbboxStruct(con_, lib_, *s);
  // 32-bit differences, wrapping as two's complement (the empty extent's
  // do). The line is only informative.
  double dx = wrapSub32(bb.maxx, bb.minx);
  double dy = wrapSub32(bb.maxy, bb.miny);
  con_.err.printf("scalex = %f, scaley = %f\n", 52020 / dx, 67320 / dy);

  std::string id = identifier(node.name);
  int64_t objects = 0;
  for (const GDScell& c : s->cells) {
    switch (c.kind) {
      case KIND_BOUNDARY: {
        const GDSboundary& b = s->boundary(c);
        if (visible(lookup(b.layer, b.datatype)) && drawable(b)) ++objects;
        break;
      }
      case KIND_PATH: {
        const GDSpath& p = s->path(c);
        if (visible(lookup(p.layer, p.datatype)) && p.npoints >= 2) ++objects;
        break;
      }
      case KIND_SREF:
        if (countReference(s->sref(c).structptr) > 0) ++objects;
        break;
      case KIND_AREF: {
        const GDSaref& a = s->aref(c);
        if (countReference(a.structptr) > 0 && a.cols > 0 && a.rows > 0)
          objects += static_cast<int64_t>(a.cols) * a.rows;
        break;
      }
      default:
        break;
    }
  }
  // Anything but exactly one object is a union; an empty union keeps the
  // references to a structure without objects valid.
  bool isUnion = objects != 1;
  f_.put("#declare ");
  f_.put(id);
  f_.put(isUnion ? " = union {\n" : " = \n");

  for (const GDScell& c : s->cells) {
    switch (c.kind) {
      case KIND_BOUNDARY: {
        const GDSboundary& b = s->boundary(c);
        const LayerEntry& e = table_[lookup(b.layer, b.datatype)];
        if (e.hidden == 0 && drawable(b)) writeBoundary(b, e);
        break;
      }
      case KIND_PATH: {
        const GDSpath& p = s->path(c);
        const LayerEntry& e = table_[lookup(p.layer, p.datatype)];
        if (e.hidden == 0) writePath(p, e);
        break;
      }
      case KIND_SREF: {
        const GDSsref& r = s->sref(c);
        if (countReference(r.structptr) > 0) writeSref(r.sname, GDScomposeTransf(r.transf, GDSidentity));
        break;
      }
      case KIND_AREF: {
        const GDSaref& a = s->aref(c);
        f_.put("//Aref:\n");
        if (countReference(a.structptr) > 0) writeAref(a, GDSidentity);
        break;
      }
      case KIND_TEXT: {
        const GDStext& t = s->text(c);
        lookup(t.layer, t.datatype);
        break;
      }
      default:
        break;
    }
  }
  f_.put(isUnion ? "}\n" : "\n");
  return true;
}

void SceneWriter::writeBoundary(const GDSboundary& b, const LayerEntry& e) {
  const std::string& tex = texture(b.layer, b.datatype);
  double top = e.depth;
  double bottom = e.depth - e.thickness;
  if (GDSisRectangle(b)) {
    const GDSpoint& p0 = b.points[0];
    const GDSpoint& p2 = b.points[2];
    f_.put(" box { <");
    coord(p2.x);
    f_.put(',');
    num(top);
    f_.put(',');
    coord(p2.y);
    f_.put("> <");
    coord(p0.x);
    f_.put(',');
    num(bottom);
    f_.put(',');
    coord(p0.y);
    f_.put(">\n  texture { ");
    f_.put(tex);
    f_.put(" }\n }\n");
    return;
  }
  f_.put(" prism {\n  linear_spline ");
  num(top);
  f_.put(',');
  num(bottom);
  f_.put(',');
  f_.putInt(b.npoints);
  f_.put('\n');
  for (int32_t k = 0; k < b.npoints; ++k) {
    f_.put(" <");
    coord(b.points[k].x);
    f_.put(',');
    coord(b.points[k].y);
    f_.put(k + 1 < b.npoints ? ">,\n" : ">\n");
  }
  f_.put("  texture { ");
  f_.put(tex);
  f_.put(" }\n}\n");
}

void SceneWriter::writePath(const GDSpath& p, const LayerEntry& e) {
  GDSboundary outline = PathToBoundary(con_, p, outline_);
  if (outline.npoints > 0 && outline.points) writeBoundary(outline, e);
}

// One placed object; m is the reference's own transform composed with the
// one it stands under.
void SceneWriter::writeSref(int32_t sname, const GDStransf& m) {
  const std::string& id = escapedRef(sname);
  f_.put("//Sref\n");
  int mirror = 0;
  double mag = 0;
  double angle = GDSdecomposeTransf(m, &mirror, &mag);
  f_.put(" object { ");
  f_.put(id);
  f_.put(" \n  scale < ");
  num(mag);
  f_.put(",1.0,");
  num(mirror ? -mag : mag);
  f_.put(">\n  rotate < 0.0,");
  num(-angle);
  f_.put(",0.0 >\n  translate <");
  num(m.tx);
  f_.put(",0.0,");
  num(m.ty);
  f_.put(" >\n }\n");
}

void SceneWriter::writeAref(const GDSaref& a, const GDStransf& t) {
  con_.err.printf("Rendering Aref->POV\n  Rows: %d\n  Cols: %d\n  RowSpace: %d\n  ColSpace: %d\n", a.rows, a.cols,
               a.rowspace, a.colspace);
  const ArrayMembers members(a, t, MemberOrder::LatticeThenPlacement);
  for (int32_t i = 0; i < a.cols; ++i)
    for (int32_t j = 0; j < a.rows; ++j) writeSref(a.sname, members.member(i, j));
}

// ---------------------------------------------------------------------------
// The scene

void SceneWriter::writeScene(const GDSstruct& top, const std::string& topName) {
  distinctIds_ = POVdistinctIdentifiers(lib_, static_cast<int32_t>(&top - lib_.structs.data()));
  GDSbbox bb = GDSbboxStruct(con_, lib_, top);
  std::string id = identifier(topName);
  // The vertical scale turns microns into database units. Without a usable
  // metre unit it is taken for the usual one of 1e-9.
  double yscale = 1e-6 / lib_.meterunit;
  if (!std::isfinite(yscale)) yscale = 1e-6 / 1e-9;

  // Differences and sums of the extent are 32-bit, wrapping as two's
  // complement (the empty extent's differences do). A single point has no
  // distance to the point the camera looks at, which the scene language
  // refuses: the camera then stands one unit above it.
  const double minx = bb.minx, miny = bb.miny, maxx = bb.maxx;
  double h = static_cast<double>(std::llabs(static_cast<int64_t>(wrapSub32(bb.maxx, bb.minx)))) +
             static_cast<double>(std::llabs(static_cast<int64_t>(wrapSub32(bb.maxy, bb.miny))));
  if (h == 0) h = 1;
  double lookx = wrapAdd32(bb.minx, bb.maxx) / 2.0;
  double looky = wrapAdd32(bb.miny, bb.maxy) / 2.0;

  f_.put("// POVRAY file generated from quillmask-0.3.1\n");
  f_.printf("// Top level cell is %s (or %s if escaping is needed.)\n", commentText(topName).c_str(), id.c_str());
  f_.printf("// Bounding box is (%d,%d)-(%d,%d)\n", bb.maxx, bb.maxy, bb.minx, bb.miny);
  f_.printf("// UserUnit: %e MeterUnit: %e \n", finite(lib_.userunit), finite(lib_.meterunit));
  f_.put("// Since thickness in the config is specified in microns,\n");
  f_.put("//   the instance of the final object will be vertically scaled\n");
  f_.printf("//   by %e at the end of the file.\n", yscale);
  f_.put("\n");
  f_.put("camera {\n");
  f_.printf(" location <%f,%f,%f>\n", minx, h, miny);
  f_.printf(" look_at <%f,0,%f>\n", lookx, looky);
  f_.put("}\n");
  f_.put("global_settings { ambient_light rgb <4.5,4.5,4.5> }\n");
  f_.printf("light_source { <%f,%f,%f> color rgb <1.0, 1.0, 1.0> }\n", maxx, h, miny);
  f_.put("\n");

  int n = table_.layerCount;
  if (n > static_cast<int>(table_.entries.size())) n = static_cast<int>(table_.entries.size());
  for (int i = 0; i < n; ++i) {
    const LayerEntry& e = table_[i];
    if (e.hidden != 0) continue;
    f_.printf(
        "#declare %s = texture { // Layer name: %s \n     pigment {\n        color rgb <%f,%f,%f>\n     }\n  }\n",
        POVtextureName(table_, i).c_str(), commentText(e.name).c_str(), finite(e.red), finite(e.green),
        finite(e.blue));
  }

  orderStructs(topName);
  bool topDeclared = false;
  for (std::size_t k = 0; k < list_.nodes.size(); ++k) {
    bool declared = declareStruct(list_.nodes[k]);
    // The top structure closes the list.
    if (k + 1 == list_.nodes.size()) topDeclared = declared;
  }

  if (topDeclared) {
    f_.printf("object { %s scale <1.0,%f,1.0> }\n", id.c_str(), yscale);
  }
  f_.put("// end of povray file\n");
}

}  // namespace

void POVwriteScene(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                   const std::string& top, Progress* progress) {
  std::unique_ptr<Out> f = openOutFile(path);
  if (!f) fatal("Couldn't open %s for writing. Aborting...\n", path.c_str());
  const GDSstruct* s = GDSfindStruct(con, lib, top);
  if (!s) {
    con.err.printf("Couldn't find the structure named \"%s\"\n", top.c_str());
    closeOutFile(*f, path);
    return;
  }
  if (progress) progress->writing("POV-Ray scene");
  SceneWriter w(con, lib, table, *f);
  w.writeScene(*s, top);
  closeOutFile(*f, path);
}

}  // namespace qm

namespace qm {

std::string POVidentifier(const POVidentifiers& distinct, const std::string& name) {
  if (!distinct.empty()) {
    auto it = distinct.find(name);
    if (it != distinct.end()) return it->second;
  }
  return POVescapeName(name);
}

}  // namespace qm
