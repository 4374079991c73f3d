#include "studio/app/preview_loader.h"

#include <QImage>

#include <cmath>
#include <limits>
#include <map>

#include "engine/formats/usdz_reader.h"

namespace pelorin::studio {

namespace {

// Larger images are scaled down: the preview is a few hundred pixels wide and software renderers
// reject huge textures.
constexpr int maxTextureSide = 4096;

QImage decode(const engine::TextureImage& image) {
    const char* format = image.mime == "image/png"    ? "PNG"
                         : image.mime == "image/jpeg" ? "JPEG"
                                                      : nullptr;
    if (!format || image.bytes.size() > std::size_t(std::numeric_limits<int>::max())) return {};
    QImage decoded = QImage::fromData(image.bytes.data(), int(image.bytes.size()), format);
    if (decoded.isNull()) return {};
    if (decoded.width() > maxTextureSide || decoded.height() > maxTextureSide)
        decoded = decoded.scaled(maxTextureSide, maxTextureSide, Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation);
    return decoded.convertToFormat(QImage::Format_RGBA8888);
}

// Area-weighted vertex normals, for packages that carry none.
void computeNormals(engine::TexturedMesh& mesh) {
    std::fill(mesh.normals.begin(), mesh.normals.end(), 0.0f);
    const auto& p = mesh.positions;
    for (const auto& group : mesh.groups) {
        for (std::size_t t = 0; t + 2 < group.indices.size(); t += 3) {
            const std::uint32_t a = group.indices[t], b = group.indices[t + 1],
                                c = group.indices[t + 2];
            const float e1[3] = {p[3 * b] - p[3 * a], p[3 * b + 1] - p[3 * a + 1],
                                 p[3 * b + 2] - p[3 * a + 2]};
            const float e2[3] = {p[3 * c] - p[3 * a], p[3 * c + 1] - p[3 * a + 1],
                                 p[3 * c + 2] - p[3 * a + 2]};
            const float n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                                e1[0] * e2[1] - e1[1] * e2[0]};
            for (std::uint32_t v : {a, b, c})
                for (int k = 0; k < 3; ++k) mesh.normals[3 * v + k] += n[k];
        }
    }
    for (std::size_t v = 0; v < mesh.vertexCount(); ++v) {
        float* n = &mesh.normals[3 * v];
        const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length > 0)
            for (int k = 0; k < 3; ++k) n[k] /= length;
    }
}

}  // namespace

std::optional<PreviewModel> loadPreviewModel(const std::filesystem::path& file,
                                             const std::atomic<bool>& cancelled) {
    auto read = engine::readUsdz(file);
    if (!read || cancelled) return std::nullopt;
    engine::TexturedMesh& mesh = read.value();
    const std::size_t vertices = mesh.vertexCount();
    if (vertices == 0 || mesh.normals.size() != 3 * vertices ||
        mesh.texcoords.size() != 2 * vertices ||
        vertices > std::size_t(std::numeric_limits<int>::max()) / PreviewModel::stride) {
        return std::nullopt;
    }
    for (const auto& group : mesh.groups) {
        if (group.indices.size() % 3 != 0) return std::nullopt;
        for (std::uint32_t index : group.indices)
            if (index >= vertices) return std::nullopt;
    }
    if (!mesh.hasNormals) computeNormals(mesh);

    PreviewModel model;
    model.vertexCount = vertices;
    model.vertices.resize(qsizetype(vertices * PreviewModel::stride));
    auto* out = reinterpret_cast<float*>(model.vertices.data());
    std::array<float, 3> min{}, max{};
    for (int k = 0; k < 3; ++k) {
        min[k] = std::numeric_limits<float>::max();
        max[k] = std::numeric_limits<float>::lowest();
    }
    for (std::size_t v = 0; v < vertices; ++v, out += 8) {
        for (int k = 0; k < 3; ++k) {
            const float x = mesh.positions[3 * v + k];
            if (!std::isfinite(x)) return std::nullopt;
            out[k] = x;
            min[k] = std::min(min[k], x);
            max[k] = std::max(max[k], x);
            out[3 + k] = mesh.normals[3 * v + k];
        }
        // The package counts v from the image's bottom row; the GPU's first row is the top.
        out[6] = mesh.texcoords[2 * v];
        out[7] = 1.0f - mesh.texcoords[2 * v + 1];
    }
    model.boundsMin = QVector3D(min[0], min[1], min[2]);
    model.boundsMax = QVector3D(max[0], max[1], max[2]);
    model.placement = placeModel(min, max);

    // Groups commonly share one atlas: decode each image once.
    std::map<const std::uint8_t*, QImage> decoded;
    std::map<const std::uint8_t*, QByteArray> pixels;
    for (const auto& group : mesh.groups) {
        if (cancelled) return std::nullopt;
        if (group.indices.empty()) continue;
        PreviewModel::Subset subset;
        subset.indices = QByteArray(reinterpret_cast<const char*>(group.indices.data()),
                                    qsizetype(group.indices.size() * sizeof(std::uint32_t)));
        if (group.texture) {
            const std::uint8_t* key = group.texture->bytes.data();
            auto [found, fresh] = decoded.try_emplace(key);
            if (fresh) {
                found->second = decode(*group.texture);
                if (found->second.isNull()) return std::nullopt;
                pixels[key] = QByteArray(reinterpret_cast<const char*>(found->second.constBits()),
                                         found->second.sizeInBytes());
            }
            subset.texture = pixels[key];
            subset.textureSize = found->second.size();
        }
        model.subsets.push_back(std::move(subset));
    }
    if (model.subsets.empty()) return std::nullopt;
    return model;
}

}  // namespace pelorin::studio
