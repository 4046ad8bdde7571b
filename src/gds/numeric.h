// Conversions between doubles and 32-bit coordinates without undefined
// behaviour: values beyond the 32-bit range saturate, NaN becomes the
// smallest value, and 32-bit products and differences wrap as two's
// complement.
#pragma once

#include <cmath>
#include <cstdint>

namespace qm {

// Truncates toward zero.
inline int32_t truncSat(double v) {
  if (v >= 2147483648.0) return INT32_MAX;
  if (v > -2147483649.0) return static_cast<int32_t>(v);
  return INT32_MIN;  // below the range, or NaN
}

inline int32_t clampInt32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

inline int32_t wrapMul32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

inline int32_t wrapSub32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace qm
