// Every walk through the hierarchy has a fast path (pruned by the layers
// below a structure, memoised where no output can differ) and the plain
// walk that follows the hierarchy completely. Tests run both and compare.
#pragma once

namespace qm {
bool plainWalks();
void setPlainWalks(bool plain);
}  // namespace qm
