#include "common/walkmode.h"

namespace qm {
namespace {
bool g_plain = false;
}
bool plainWalks() { return g_plain; }
void setPlainWalks(bool plain) { g_plain = plain; }
}  // namespace qm
