#pragma once

#include <array>
#include <cmath>

// Small fixed-size vector algebra shared by the reconstruction steps and the evaluation.
namespace pelorin::engine {

using Vec3 = std::array<double, 3>;
using Mat3 = std::array<double, 9>;  // row by row

inline Vec3 operator+(const Vec3& a, const Vec3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
inline Vec3 operator-(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline Vec3 operator*(double s, const Vec3& a) {
    return {s * a[0], s * a[1], s * a[2]};
}
inline double dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
inline Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double norm(const Vec3& a) {
    return std::sqrt(dot(a, a));
}
inline Vec3 normalized(const Vec3& a) {
    const double n = norm(a);
    return n > 0 ? (1 / n) * a : a;
}

inline Vec3 operator*(const Mat3& m, const Vec3& v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}
inline Mat3 operator*(const Mat3& a, const Mat3& b) {
    Mat3 c{};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 3; ++j) c[r * 3 + j] += a[r * 3 + k] * b[k * 3 + j];
    return c;
}
inline Mat3 transposed(const Mat3& m) {
    return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]};
}
inline constexpr Mat3 identity3 = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// The rotation that turns unit vector `from` onto unit vector `to` by the shortest way.
inline Mat3 rotationBetween(const Vec3& from, const Vec3& to) {
    const Vec3 axis = cross(from, to);
    const double s = norm(axis), c = dot(from, to);
    if (s < 1e-12) {
        if (c > 0) return identity3;
        // Opposite: half a turn about any axis perpendicular to `from`.
        const Vec3 other = std::abs(from[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
        const Vec3 k = normalized(cross(from, other));
        return {2 * k[0] * k[0] - 1, 2 * k[0] * k[1],     2 * k[0] * k[2],
                2 * k[1] * k[0],     2 * k[1] * k[1] - 1, 2 * k[1] * k[2],
                2 * k[2] * k[0],     2 * k[2] * k[1],     2 * k[2] * k[2] - 1};
    }
    const Vec3 k = (1 / s) * axis;
    const double t = 1 - c;
    return {t * k[0] * k[0] + c,        t * k[0] * k[1] - s * k[2], t * k[0] * k[2] + s * k[1],
            t * k[0] * k[1] + s * k[2], t * k[1] * k[1] + c,        t * k[1] * k[2] - s * k[0],
            t * k[0] * k[2] - s * k[1], t * k[1] * k[2] + s * k[0], t * k[2] * k[2] + c};
}

}  // namespace pelorin::engine
