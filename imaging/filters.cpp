#include <cmath>

#include "imaging/resample.h"

// Filter kernels, evaluated in single precision with every intermediate
// rounded to float. Native and Windows builds both use SSE arithmetic for
// float, so the weights (and with them every output byte) agree bit for bit.

namespace {

// sin for the Lanczos kernel. The C library's sinf differs between glibc and
// the MinGW runtime in the last bit now and then, which can move a rounded
// weight by one; this version uses only IEEE double additions and
// multiplications, so both builds compute the same float. Accurate to well
// under 1e-15 on the kernel's range (|t| < 3π), i.e. correctly rounded to float
// in all but pathological half-way cases.
float KernelSin(float t) {
    const double kPi = 3.14159265358979323846;
    double a = t;
    // Reduce to about [-π/2, π/2]: sin(a) = (-1)^k sin(a - kπ). Any integer
    // near a/π will do; plain conversion avoids the C library's rounding
    // functions, which are slow in the MinGW runtime.
    const long long odd = static_cast<long long>(a / kPi + (a >= 0 ? 0.5 : -0.5));
    const double y = a - static_cast<double>(odd) * kPi;
    double y2 = y * y;
    // Taylor series to y^23; the first omitted term is below 1e-18 here.
    double term = y, sum = y;
    for (int n = 1; n <= 11; ++n) {
        term = -term * y2 / static_cast<double>((2 * n) * (2 * n + 1));
        sum += term;
    }
    if (odd % 2 != 0) sum = -sum;
    return static_cast<float>(sum);
}

float Sinc(float t) {
    if (t == 0.0f) return 1.0f;
    const float kPiF = 3.14159265358979323846f;
    float a = kPiF * t;
    return KernelSin(a) / a;
}

float BoxFilter(float x) { return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f; }

float TriangleFilter(float x) {
    float ax = std::fabs(x);
    return ax < 1.0f ? 1.0f - ax : 0.0f;
}

float HermiteFilter(float x) {
    float ax = std::fabs(x);
    if (ax >= 1.0f) return 0.0f;
    float x2 = x * x;
    float t = 2.0f * ax - 3.0f;
    return t * x2 + 1.0f;
}

float BellFilter(float x) {
    float ax = std::fabs(x);
    if (ax < 0.5f) return 0.75f - x * x;
    if (ax < 1.5f) {
        float t = ax - 1.5f;
        return 0.5f * (t * t);
    }
    return 0.0f;
}

float BSplineFilter(float x) {
    float ax = std::fabs(x);
    if (ax < 1.0f) {
        float x2 = x * x;
        float x3 = x2 * ax;
        return 0.5f * x3 - x2 + 2.0f / 3.0f;
    }
    if (ax < 2.0f) {
        float t = 2.0f - ax;
        return (t * t * t) / 6.0f;
    }
    return 0.0f;
}

float Lanczos3Filter(float x) {
    if (std::fabs(x) >= 3.0f) return 0.0f;
    return Sinc(x) * Sinc(x / 3.0f);
}

float MitchellFilter(float x) {
    float ax = std::fabs(x);
    float x2 = x * x;
    float x3 = x2 * ax;
    if (ax < 1.0f) return (7.0f * x3 - 12.0f * x2 + 16.0f / 3.0f) / 6.0f;
    if (ax < 2.0f) return (-(7.0f / 3.0f) * x3 + 12.0f * x2 - 20.0f * ax + 32.0f / 3.0f) / 6.0f;
    return 0.0f;
}

}  // namespace

const TFilter Filters[kFilterCount] = {
    {BoxFilter, 0.5f},      {TriangleFilter, 1.0f}, {HermiteFilter, 1.0f},  {BellFilter, 1.5f},
    {BSplineFilter, 2.0f},  {Lanczos3Filter, 3.0f}, {MitchellFilter, 2.0f},
};
