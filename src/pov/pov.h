// The POV-Ray scene: identifiers and scene writer.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "gds/model.h"
#include "layers/config.h"

namespace qm {

class Progress;

// The words a scene identifier must not be, ended by an empty slot.
extern const char* const POVreservedWords[];
// The further reserved words of the scene language, ended the same way.
extern const char* const POVmoreReservedWords[];

// Whether a word is one of the reserved words.
bool POVisReserved(std::string_view word);
// Identifier of a structure name: at most 40 characters, never a reserved
// word, never in the texture identifiers' GDS_TEX_ space.
std::string POVescapeName(const std::string& name);
// The X form: the name's last bytes, terminator first, as hex-like digits.
std::string POVhexName(const std::string& name);
// Structure names of one scene whose escaped identifiers collide (a-b and
// a.b both escape to aE_b), among the structures reachable from the top,
// each with the distinct identifier it gets instead: in byte order, the
// first name of a group keeps the identifier, the others get it followed by
// _2, _3, ... (cut to leave room), skipping identifiers in use or reserved.
// Empty when nothing collides.
using POVidentifiers = std::unordered_map<std::string, std::string>;
POVidentifiers POVdistinctIdentifiers(const GDSlibrary& lib, int32_t topIdx);
// The identifier of a structure name in a scene with those exceptions.
std::string POVidentifier(const POVidentifiers& distinct, const std::string& name);

// Texture identifier of layer table entry i.
std::string POVtextureName(const LayerTable& table, int i);
// Texture identifier of the entry found for (layer, datatype), with the
// lookup's warning when the layer is not configured.
std::string POVlayerTexture(const Console& con, const LayerTable& table, int32_t layer, int32_t datatype);

// Writes the scene of structure `top` to `path`. Fatal when the file cannot
// be opened; a missing top structure leaves an empty file.
void POVwriteScene(const Console& con, const GDSlibrary& lib, const LayerTable& table, const std::string& path,
                   const std::string& top, Progress* progress = nullptr);

}  // namespace qm
