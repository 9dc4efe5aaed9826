#pragma once
// Checked 64-bit size arithmetic and the one pixel budget every decoder honours.

#include <cstdint>
#include <limits>
#include <optional>

namespace lumora {

// Largest picture any decoder or scaler may allocate, in pixels (32 bits each).
// 24-megapixel photographs fit many times over; a hostile header cannot make us allocate gigabytes.
int64_t PixelBudget();
void SetPixelBudget(int64_t pixels); // tests and fuzzers lower it

inline std::optional<int64_t> CheckedMul(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
    return r;
}

inline std::optional<int64_t> CheckedAdd(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return std::nullopt;
    return r;
}

// True when width x height is positive and within the pixel budget.
bool FitsPixelBudget(int64_t width, int64_t height);

} // namespace lumora
