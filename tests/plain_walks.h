// The reference walks: every reference followed and every instance walked
// again, every element below a reference copied and transformed, nothing
// pruned and nothing remembered. The writers' own walks must give their
// bytes exactly; the tests and the fuzz targets run both and compare.
#pragma once

#include <cstdint>
#include <string>

#include "gds/model.h"
#include "geom/extent.h"
#include "geom/walk.h"
#include "layers/config.h"

namespace plainwalks {

// Extents, with the same messages as GDSbboxStruct and friends.
qm::GDSbbox bboxStruct(const qm::Console& con, const qm::GDSlibrary& lib, const qm::GDSstruct& s);
qm::GDSbbox bboxSref(const qm::Console& con, const qm::GDSlibrary& lib, const qm::GDSsref& r, const qm::GDStransf& parent);
qm::GDSbbox bboxAref(const qm::Console& con, const qm::GDSlibrary& lib, const qm::GDSaref& a, const qm::GDStransf& parent);

// The placed elements of `top`, in the plan's transform orders; the plan's
// layer is not used to leave anything out.
void place(const qm::GDSlibrary& lib, const qm::GDSstruct& top, const qm::WalkPlan& plan, qm::PlacedSink& sink);

// Both, for the page and plot writers.
const qm::Walks& walks();

// The layer lookup as a scan at every call, with its warning.
int findLayerEntry(const qm::Console& con, const qm::LayerTable& table, int32_t layer, int32_t datatype);

// The scene writer with every walk followed completely at every call.
void writeScene(const qm::Console& con, const qm::GDSlibrary& lib, const qm::LayerTable& table, const std::string& path,
                const std::string& top);

// The writer sequence with the reference walks.
void runWriters(const qm::Console& con, const qm::GDSlibrary& lib, const std::string& top, const std::string& configPath,
                const std::string& psPath, const std::string& povPath, const std::string& hpglPath);

}  // namespace plainwalks
