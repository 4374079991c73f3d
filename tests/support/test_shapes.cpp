#include "tests/support/test_shapes.h"

#include <cmath>
#include <numbers>

#include <opencv2/imgcodecs.hpp>

namespace pelorin::evaluation::fixtures {

namespace {

std::vector<Point> vertexNormals(const Mesh& mesh) {
    std::vector<Point> sum(mesh.vertices.size(), Point{});
    for (const auto& t : mesh.triangles) {
        const auto& p0 = mesh.vertices[t[0]];
        const Point u = {mesh.vertices[t[1]][0] - p0[0], mesh.vertices[t[1]][1] - p0[1],
                         mesh.vertices[t[1]][2] - p0[2]};
        const Point v = {mesh.vertices[t[2]][0] - p0[0], mesh.vertices[t[2]][1] - p0[1],
                         mesh.vertices[t[2]][2] - p0[2]};
        const Point n = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                         u[0] * v[1] - u[1] * v[0]};
        for (auto i : t) {
            for (int k = 0; k < 3; ++k) sum[i][k] += n[k];
        }
    }
    for (auto& n : sum) {
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (length > 0) {
            for (double& c : n) c /= length;
        }
    }
    return sum;
}

}  // namespace

Mesh lumpySolid(double offset) {
    const int rings = 48, segments = 96;
    auto radius = [](double theta, double phi) {
        return 1 + 0.25 * std::sin(3 * phi) * std::sin(theta) * std::sin(theta) +
               0.15 * std::cos(2 * theta) +
               0.3 * std::exp(-((phi - 1) * (phi - 1) + (theta - 1) * (theta - 1)) / 0.1);
    };
    Mesh mesh;
    for (int r = 0; r <= rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const double theta = std::numbers::pi * r / rings,
                         phi = 2 * std::numbers::pi * s / segments;
            const double k = radius(theta, phi);
            const Point direction = {std::sin(theta) * std::cos(phi), std::cos(theta),
                                     std::sin(theta) * std::sin(phi)};
            mesh.vertices.push_back({k * direction[0], 1.3 * k * direction[1], k * direction[2]});
        }
    }
    for (int r = 0; r < rings; ++r) {
        for (int s = 0; s < segments; ++s) {
            const std::uint32_t a = r * segments + s, b = r * segments + (s + 1) % segments;
            const std::uint32_t c = a + segments, d = b + segments;
            mesh.triangles.push_back({a, c, b});
            mesh.triangles.push_back({b, c, d});
        }
    }
    if (offset != 0) {
        // The triangles wind so that their normals point into the solid: outward is minus.
        const auto normals = vertexNormals(mesh);
        for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
            for (int k = 0; k < 3; ++k) mesh.vertices[i][k] -= offset * normals[i][k];
        }
    }
    return mesh;
}

Similarity someSimilarity(double scale, double degrees) {
    const double angle = degrees * std::numbers::pi / 180;
    double axis[3] = {1, 2, 3};
    const double n = std::sqrt(14.0);
    for (double& a : axis) a /= n;
    const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
    Similarity moved;
    moved.scale = scale;
    moved.rotation = {t * axis[0] * axis[0] + c,
                      t * axis[0] * axis[1] - s * axis[2],
                      t * axis[0] * axis[2] + s * axis[1],
                      t * axis[0] * axis[1] + s * axis[2],
                      t * axis[1] * axis[1] + c,
                      t * axis[1] * axis[2] - s * axis[0],
                      t * axis[0] * axis[2] - s * axis[1],
                      t * axis[1] * axis[2] + s * axis[0],
                      t * axis[2] * axis[2] + c};
    moved.translation = {5, -3, 12};
    return moved;
}

std::vector<std::uint8_t> png(const cv::Mat& image) {
    std::vector<std::uint8_t> bytes;
    cv::imencode(".png", image, bytes);
    return bytes;
}

engine::TexturedMesh texturedOf(const Mesh& mesh) {
    engine::TexturedMesh textured;
    const auto normals = vertexNormals(mesh);
    for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
        const auto& v = mesh.vertices[i];
        for (int k = 0; k < 3; ++k) {
            textured.positions.push_back(static_cast<float>(v[k]));
            textured.normals.push_back(static_cast<float>(normals[i][k]));
        }
        textured.texcoords.push_back(static_cast<float>(0.5 + 0.25 * v[0]));
        textured.texcoords.push_back(static_cast<float>(0.5 + 0.2 * v[1]));
    }
    textured.hasNormals = textured.hasTexcoords = true;
    cv::Mat first(8, 16, CV_8UC3, cv::Scalar(20, 120, 220));
    cv::Mat second(4, 4, CV_8UC3, cv::Scalar(200, 30, 60));
    first.at<cv::Vec3b>(1, 2) = {255, 255, 255};
    const auto firstImage = engine::TextureImage::fromBytes(png(first), "image/png");
    const auto secondImage = engine::TextureImage::fromBytes(png(second), "image/png");
    const std::size_t third = mesh.triangles.size() / 3;
    for (int g = 0; g < 3; ++g) {
        engine::MeshGroup group;
        group.material = "Material_" + std::to_string(g);
        for (std::size_t t = g * third; t < (g == 2 ? mesh.triangles.size() : (g + 1) * third);
             ++t) {
            group.indices.insert(group.indices.end(), mesh.triangles[t].begin(),
                                 mesh.triangles[t].end());
        }
        group.texture = g == 1 ? secondImage : firstImage;
        textured.groups.push_back(std::move(group));
    }
    return textured;
}

}  // namespace pelorin::evaluation::fixtures
