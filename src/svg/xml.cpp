// Text for XML documents: whatever bytes a name or string holds, the
// result is well-formed character data in UTF-8.
#include <cstdint>

#include "svg/svg.h"

namespace qm {
namespace {

// Length of the valid UTF-8 sequence at s[i] of a character XML allows,
// 0 when there is none.
std::size_t validSequence(std::string_view s, std::size_t i) {
  const auto c0 = static_cast<unsigned char>(s[i]);
  std::size_t n;
  uint32_t cp;
  if (c0 >= 0xc2 && c0 <= 0xdf) {
    n = 2;
    cp = c0 & 0x1f;
  } else if (c0 >= 0xe0 && c0 <= 0xef) {
    n = 3;
    cp = c0 & 0x0f;
  } else if (c0 >= 0xf0 && c0 <= 0xf4) {
    n = 4;
    cp = c0 & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xc0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3f);
  }
  // Overlong forms, surrogates, beyond U+10FFFF, and U+FFFE / U+FFFF.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000)) return 0;
  if (cp >= 0xd800 && cp <= 0xdfff) return 0;
  if (cp > 0x10ffff || cp == 0xfffe || cp == 0xffff) return 0;
  return n;
}

}  // namespace

void SVGputEscaped(Out& f, std::string_view s) {
  std::size_t plain = 0;  // start of the bytes not yet written
  std::size_t i = 0;
  auto flushTo = [&](std::size_t end) { f.write(s.data() + plain, end - plain); };
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7f && c != '&' && c != '<' && c != '>' && c != '"' && c != '\'') {
      ++i;
      continue;
    }
    if (c >= 0x80) {
      std::size_t n = validSequence(s, i);
      if (n > 0) {
        i += n;
        continue;
      }
    }
    flushTo(i);
    switch (c) {
      case '&': f.put("&amp;"); break;
      case '<': f.put("&lt;"); break;
      case '>': f.put("&gt;"); break;
      case '"': f.put("&quot;"); break;
      case '\'': f.put("&apos;"); break;
      default:
        if (c < 0x20) {
          // U+2400 + c: E2 90 80+c
          const char pic[3] = {'\xe2', '\x90', static_cast<char>(0x80 + c)};
          f.write(pic, 3);
        } else if (c == 0x7f) {
          f.put("\xe2\x90\xa1");  // U+2421
        } else {
          f.put("\xef\xbf\xbd");  // U+FFFD
        }
        break;
    }
    ++i;
    plain = i;
  }
  flushTo(s.size());
}

std::string SVGescape(std::string_view s) {
  Out o{Out::Memory{}};
  SVGputEscaped(o, s);
  return o.str();
}

}  // namespace qm
