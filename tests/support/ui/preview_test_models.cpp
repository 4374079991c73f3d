#include "tests/support/ui/preview_test_models.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <stdexcept>

#include "engine/formats/usdz_writer.h"

namespace pelorin::studio::testing {

namespace {

engine::TextureImage encode(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 90);
    return engine::TextureImage::fromBytes(
        Bytes(data.begin(), data.end()), std::string(format) == "PNG" ? "image/png" : "image/jpeg");
}

Bytes package(const engine::TexturedMesh& mesh) {
    auto built = engine::UsdzWriter::buildUSDZ(mesh);
    if (!built) throw std::runtime_error("the test model could not be written");
    return std::move(built.value());
}

}  // namespace

Bytes cubeModel(float side, const QColor& upper, const QColor& lower, bool textured,
                float centreX) {
    engine::TexturedMesh mesh;
    engine::MeshGroup group;
    group.material = "surface";
    const float h = side / 2;
    // Each face: its normal axis and sign; corners built from the two other axes.
    for (int axis = 0; axis < 3; ++axis) {
        for (float sign : {-1.0f, 1.0f}) {
            const int u = (axis + 1) % 3, v = (axis + 2) % 3;
            const auto base = std::uint32_t(mesh.vertexCount());
            const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
            for (const auto& c : corners) {
                float p[3], n[3] = {0, 0, 0};
                p[axis] = sign * h;
                p[u] = c[0] * h;
                p[v] = c[1] * h;
                p[0] += centreX;
                n[axis] = sign;
                mesh.positions.insert(mesh.positions.end(), p, p + 3);
                mesh.normals.insert(mesh.normals.end(), n, n + 3);
                mesh.texcoords.insert(mesh.texcoords.end(),
                                      {0.3f + 0.4f * (c[0] + 1) / 2, 0.6f + 0.3f * (c[1] + 1) / 2});
            }
            // Counter-clockwise seen from outside.
            if (sign > 0) {
                group.indices.insert(group.indices.end(),
                                     {base, base + 1, base + 2, base, base + 2, base + 3});
            } else {
                group.indices.insert(group.indices.end(),
                                     {base, base + 2, base + 1, base, base + 3, base + 2});
            }
        }
    }
    if (textured) {
        QImage image(64, 64, QImage::Format_RGB32);
        QPainter painter(&image);
        painter.fillRect(0, 0, 64, 32, upper);
        painter.fillRect(0, 32, 64, 32, lower);
        painter.end();
        group.texture = encode(image, "PNG");
    }
    mesh.groups.push_back(std::move(group));
    mesh.hasNormals = true;
    mesh.hasTexcoords = true;
    return package(mesh);
}

Bytes sphereModel(int triangles, int textureSide) {
    const int rings = std::max(4, int(std::sqrt(triangles / 2.0)));
    const int segments = std::max(4, triangles / (2 * rings));
    engine::TexturedMesh mesh;
    engine::MeshGroup group;
    group.material = "surface";
    for (int r = 0; r <= rings; ++r) {
        const double theta = M_PI * r / rings;
        for (int s = 0; s <= segments; ++s) {
            const double phi = 2 * M_PI * s / segments;
            const float n[3] = {float(std::sin(theta) * std::cos(phi)), float(std::cos(theta)),
                                float(std::sin(theta) * std::sin(phi))};
            // A statue-sized ball, 30 cm across, slightly squashed so that it reads as a body.
            mesh.positions.insert(mesh.positions.end(), {0.15f * n[0], 0.12f * n[1], 0.15f * n[2]});
            mesh.normals.insert(mesh.normals.end(), n, n + 3);
            mesh.texcoords.insert(mesh.texcoords.end(),
                                  {float(s) / segments, 1.0f - float(r) / rings});
        }
    }
    for (int r = 0; r < rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const auto a = std::uint32_t(r * (segments + 1) + s), b = a + segments + 1;
            group.indices.insert(group.indices.end(), {a, a + 1, b, a + 1, b + 1, b});
        }
    }
    QImage image(textureSide, textureSide, QImage::Format_RGB32);
    QPainter painter(&image);
    const int tiles = 16;
    const double tile = double(textureSide) / tiles;
    for (int y = 0; y < tiles; ++y) {
        for (int x = 0; x < tiles; ++x) {
            const QColor colour =
                QColor::fromHsvF(double(x) / tiles, 0.55, (x + y) % 2 ? 0.95 : 0.7);
            painter.fillRect(QRectF(x * tile, y * tile, tile + 1, tile + 1), colour);
        }
    }
    painter.end();
    group.texture = encode(image, "JPEG");
    mesh.groups.push_back(std::move(group));
    mesh.hasNormals = true;
    mesh.hasTexcoords = true;
    return package(mesh);
}

}  // namespace pelorin::studio::testing
