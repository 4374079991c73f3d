#include "tools/sample-set/sample_capture.h"

#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace pelorin::samples {

namespace {

using Matrix3 = std::array<double, 9>;  // row by row
using Vector = std::array<double, 3>;

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
    Matrix3 c{};
    for (int r = 0; r < 3; ++r)
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 3; ++j) c[r * 3 + j] += a[r * 3 + k] * b[k * 3 + j];
    return c;
}

Vector rotate(const Matrix3& m, const Vector& v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

// A turn about a random axis by a normally distributed angle.
class RandomTurns {
  public:
    explicit RandomTurns(std::uint32_t seed) : engine_(seed) {}

    Matrix3 next(double sigmaDegrees) {
        Vector axis{normal_(engine_), normal_(engine_), normal_(engine_)};
        const double length = std::hypot(axis[0], axis[1], axis[2]);
        for (auto& a : axis) a /= length;
        const double angle = normal_(engine_) * sigmaDegrees * std::numbers::pi / 180;
        const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
        const auto [x, y, z] = axis;
        return {t * x * x + c,     t * x * y - s * z, t * x * z + s * y,
                t * x * y + s * z, t * y * y + c,     t * y * z - s * x,
                t * x * z - s * y, t * y * z + s * x, t * z * z + c};
    }
    double gaussian(double sigma) { return normal_(engine_) * sigma; }

  private:
    std::mt19937 engine_;
    std::normal_distribution<double> normal_{0.0, 1.0};
};

}  // namespace

Date capturedAt(std::size_t index) {
    // 2026-11-14 09:30:00 UTC.
    const double start = 1794648600.0 - Date::unixOffset;
    return {start + 2.5 * static_cast<double>(index)};
}

link::CaptureManifest makeSampleManifest(const evaluation::TruthCameras& truth,
                                         const std::vector<std::int64_t>& bytes,
                                         const CaptureNoise& noise) {
    link::CaptureManifest manifest;
    manifest.id = *Uuid::parse("5A3E1C9B-7D24-4F0E-9B61-2C8F4D7A1E35");
    manifest.name = "Statue";
    manifest.createdAt = capturedAt(0);
    manifest.deviceModel = "Pixel 8";
    manifest.appVersion = "1.0";
    manifest.captureMode = link::CaptureMode::arGuided;
    manifest.objectBounds = truth.objectBounds;
    RandomTurns random(noise.seed);
    for (std::size_t i = 0; i < truth.views.size(); ++i) {
        const auto& view = truth.views[i];
        link::ImageRecord record;
        record.fileName = view.name;
        record.capturedAt = capturedAt(i);
        if (i < bytes.size()) record.bytes = bytes[i];

        const auto gravity = rotate(random.next(noise.gravityDegrees), view.gravity);
        record.gravity = link::Vector3{gravity[0], gravity[1], gravity[2]};

        const auto& m = view.cameraTransform;  // column by column
        const Matrix3 rotation = {m[0], m[4], m[8], m[1], m[5], m[9], m[2], m[6], m[10]};
        const Matrix3 turned = multiply(random.next(noise.orientationDegrees), rotation);
        std::vector<float> transform(16, 0.0f);
        for (int column = 0; column < 3; ++column)
            for (int row = 0; row < 3; ++row)
                transform[column * 4 + row] = static_cast<float>(turned[row * 3 + column]);
        for (int row = 0; row < 3; ++row)
            transform[12 + row] =
                static_cast<float>(m[12 + row] + random.gaussian(noise.positionMetres));
        transform[15] = 1.0f;
        record.cameraTransform = std::move(transform);
        record.intrinsics = std::vector<float>(view.intrinsics.begin(), view.intrinsics.end());
        manifest.images.push_back(std::move(record));
    }
    return manifest;
}

evaluation::TruthCameras scaledCameras(const evaluation::TruthCameras& truth, double factor) {
    auto scaled = truth;
    scaled.width = static_cast<int>(std::lround(truth.width * factor));
    scaled.height = static_cast<int>(std::lround(truth.height * factor));
    for (auto& view : scaled.views)
        for (int element : {0, 4, 6, 7}) view.intrinsics[element] *= factor;
    return scaled;
}

evaluation::TruthCameras viewRange(const evaluation::TruthCameras& truth, std::size_t first,
                                   std::size_t count) {
    auto chosen = truth;
    chosen.views.clear();
    for (std::size_t i = first; i < first + count && i < truth.views.size(); ++i)
        chosen.views.push_back(truth.views[i]);
    return chosen;
}

}  // namespace pelorin::samples
