#include "evaluation/rasteriser.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <vector>

#include <opencv2/imgcodecs.hpp>

namespace pelorin::evaluation {

namespace {

// Nothing nearer than this to the camera is drawn, in world units along the view.
constexpr double nearPlane = 1e-4;
const cv::Vec3b untexturedColour(204, 204, 204);

// A corner in the camera's frame with its texture coordinates.
struct Corner {
    Point camera;
    double s = 0, t = 0;
};

Corner between(const Corner& a, const Corner& b, double f) {
    Corner c;
    for (int i = 0; i < 3; ++i) c.camera[i] = a.camera[i] + f * (b.camera[i] - a.camera[i]);
    c.s = a.s + f * (b.s - a.s);
    c.t = a.t + f * (b.t - a.t);
    return c;
}

// The part of a triangle in front of the near plane: none, or a triangle or a quadrilateral.
// Attributes are linear in the camera's frame, so cutting there keeps them exact.
int clipToNearPlane(const std::array<Corner, 3>& triangle, std::array<Corner, 4>& out) {
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        const Corner& a = triangle[i];
        const Corner& b = triangle[(i + 1) % 3];
        const double da = a.camera[2] - nearPlane, db = b.camera[2] - nearPlane;
        if (da >= 0) out[count++] = a;
        if ((da >= 0) != (db >= 0)) out[count++] = between(a, b, da / (da - db));
    }
    return count;
}

// A buffer of nearest depths and the triangle scan shared by both renderings. `shade` is called
// for each pixel whose centre the triangle covers nearer than anything before, with the pixel
// and the perspective-correct texture coordinates.
class Scanner {
  public:
    explicit Scanner(const PinholeCamera& camera)
        : camera_(camera),
          depth_(std::size_t(camera.width()) * camera.height(),
                 std::numeric_limits<double>::infinity()) {}

    template <class Shade>
    void draw(const std::array<Corner, 3>& triangle, Shade&& shade) {
        for (const auto& corner : triangle) {
            for (double c : corner.camera) {
                if (!std::isfinite(c)) return;
            }
        }
        std::array<Corner, 4> polygon;
        const int count = clipToNearPlane(triangle, polygon);
        for (int k = 1; k + 1 < count; ++k) scan({polygon[0], polygon[k], polygon[k + 1]}, shade);
    }

    double depthAt(int x, int y) const { return depth_[std::size_t(y) * camera_.width() + x]; }

  private:
    template <class Shade>
    void scan(const std::array<Corner, 3>& c, Shade& shade) {
        std::array<std::array<double, 2>, 3> p;
        for (int i = 0; i < 3; ++i) p[i] = camera_.project(c[i].camera);
        const double area =
            (p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[2][0] - p[0][0]) * (p[1][1] - p[0][1]);
        if (!(std::abs(area) > 1e-12)) return;
        const double lowX = std::min({p[0][0], p[1][0], p[2][0]});
        const double highX = std::max({p[0][0], p[1][0], p[2][0]});
        const double lowY = std::min({p[0][1], p[1][1], p[2][1]});
        const double highY = std::max({p[0][1], p[1][1], p[2][1]});
        // Pixels whose centres (i + 0.5) may fall inside, within the image.
        const int x0 = static_cast<int>(std::max(0.0, std::ceil(lowX - 0.5)));
        const int x1 = static_cast<int>(std::min(camera_.width() - 1.0, std::floor(highX - 0.5)));
        const int y0 = static_cast<int>(std::max(0.0, std::ceil(lowY - 0.5)));
        const int y1 = static_cast<int>(std::min(camera_.height() - 1.0, std::floor(highY - 0.5)));
        // 1/z and attribute/z are linear on the screen.
        const std::array<double, 3> inverseDepth = {1 / c[0].camera[2], 1 / c[1].camera[2],
                                                    1 / c[2].camera[2]};
        const double sign = area > 0 ? 1 : -1;
        for (int y = y0; y <= y1; ++y) {
            const double py = y + 0.5;
            for (int x = x0; x <= x1; ++x) {
                const double px = x + 0.5;
                // Twice the areas of the sub-triangles opposite each corner.
                const double w0 = sign * ((p[2][0] - p[1][0]) * (py - p[1][1]) -
                                          (p[2][1] - p[1][1]) * (px - p[1][0]));
                const double w1 = sign * ((p[0][0] - p[2][0]) * (py - p[2][1]) -
                                          (p[0][1] - p[2][1]) * (px - p[2][0]));
                const double w2 = sign * ((p[1][0] - p[0][0]) * (py - p[0][1]) -
                                          (p[1][1] - p[0][1]) * (px - p[0][0]));
                if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                const double total = w0 + w1 + w2;
                const double b0 = w0 / total * inverseDepth[0], b1 = w1 / total * inverseDepth[1],
                             b2 = w2 / total * inverseDepth[2];
                const double inverse = b0 + b1 + b2;
                const double depth = 1 / inverse;
                double& nearest = depth_[std::size_t(y) * camera_.width() + x];
                if (!(depth < nearest)) continue;
                nearest = depth;
                shade(x, y, (b0 * c[0].s + b1 * c[1].s + b2 * c[2].s) / inverse,
                      (b0 * c[0].t + b1 * c[1].t + b2 * c[2].t) / inverse);
            }
        }
    }

    const PinholeCamera& camera_;
    std::vector<double> depth_;
};

// Bilinear sampling with clamped edges; t = 0 is the bottom row of the image.
cv::Vec3b sample(const cv::Mat& image, double s, double t) {
    const double x = s * image.cols - 0.5, y = (1 - t) * image.rows - 0.5;
    if (!std::isfinite(x) || !std::isfinite(y)) return untexturedColour;
    const double fx = std::floor(x), fy = std::floor(y);
    const double ax = x - fx, ay = y - fy;
    auto at = [&](double column, double row) {
        const int c = static_cast<int>(std::clamp(column, 0.0, image.cols - 1.0));
        const int r = static_cast<int>(std::clamp(row, 0.0, image.rows - 1.0));
        return image.at<cv::Vec3b>(r, c);
    };
    const cv::Vec3b p00 = at(fx, fy), p10 = at(fx + 1, fy), p01 = at(fx, fy + 1),
                    p11 = at(fx + 1, fy + 1);
    cv::Vec3b result;
    for (int k = 0; k < 3; ++k) {
        const double top = p00[k] + ax * (p10[k] - p00[k]);
        const double bottom = p01[k] + ax * (p11[k] - p01[k]);
        result[k] = cv::saturate_cast<std::uint8_t>(top + ay * (bottom - top));
    }
    return result;
}

}  // namespace

pelorin::Expected<Rendering, std::string> renderTextured(const engine::TexturedMesh& mesh,
                                                         const Similarity& toWorld,
                                                         const PinholeCamera& camera) {
    const std::size_t vertices = mesh.vertexCount();
    std::vector<Corner> corners(vertices);
    const bool textured = mesh.texcoords.size() == vertices * 2;
    for (std::size_t i = 0; i < vertices; ++i) {
        const Point world = toWorld.apply(
            {mesh.positions[3 * i], mesh.positions[3 * i + 1], mesh.positions[3 * i + 2]});
        corners[i].camera = camera.toCamera(world);
        if (textured) {
            corners[i].s = mesh.texcoords[2 * i];
            corners[i].t = mesh.texcoords[2 * i + 1];
        }
    }
    // Each distinct image decoded once: groups commonly share an atlas.
    std::deque<std::pair<const engine::TextureImage*, cv::Mat>> decoded;
    auto imageOf = [&](const engine::TextureImage& texture) -> const cv::Mat* {
        for (const auto& [known, image] : decoded) {
            if (known->sameImage(texture)) return &image;
        }
        const cv::Mat raw(1, static_cast<int>(texture.bytes.size()), CV_8U,
                          const_cast<std::uint8_t*>(texture.bytes.data()));
        cv::Mat image = texture.bytes.empty() ? cv::Mat() : cv::imdecode(raw, cv::IMREAD_COLOR);
        if (image.empty()) return nullptr;
        decoded.emplace_back(&texture, std::move(image));
        return &decoded.back().second;
    };

    Rendering rendering{cv::Mat(camera.height(), camera.width(), CV_8UC3, cv::Scalar::all(0)),
                        cv::Mat(camera.height(), camera.width(), CV_8U, cv::Scalar(0))};
    Scanner scanner(camera);
    for (const auto& group : mesh.groups) {
        const cv::Mat* image = nullptr;
        if (group.texture && textured) {
            image = imageOf(*group.texture);
            if (!image) {
                return pelorin::unexpected("the texture of material \"" + group.material +
                                           "\" cannot be decoded");
            }
        }
        auto shade = [&](int x, int y, double s, double t) {
            rendering.colour.at<cv::Vec3b>(y, x) = image ? sample(*image, s, t) : untexturedColour;
            rendering.coverage.at<std::uint8_t>(y, x) = 255;
        };
        for (std::size_t i = 0; i + 2 < group.indices.size(); i += 3) {
            const std::uint32_t a = group.indices[i], b = group.indices[i + 1],
                                c = group.indices[i + 2];
            if (a >= vertices || b >= vertices || c >= vertices) continue;
            scanner.draw({corners[a], corners[b], corners[c]}, shade);
        }
    }
    return rendering;
}

cv::Mat renderDepth(const Mesh& mesh, const PinholeCamera& camera) {
    cv::Mat depth(camera.height(), camera.width(), CV_64F,
                  cv::Scalar(std::numeric_limits<double>::infinity()));
    std::vector<Corner> corners(mesh.vertices.size());
    for (std::size_t i = 0; i < corners.size(); ++i)
        corners[i].camera = camera.toCamera(mesh.vertices[i]);
    Scanner scanner(camera);
    for (const auto& t : mesh.triangles) {
        if (t[0] >= corners.size() || t[1] >= corners.size() || t[2] >= corners.size()) continue;
        const std::array<Corner, 3> triangle = {corners[t[0]], corners[t[1]], corners[t[2]]};
        scanner.draw(triangle, [&](int x, int y, double, double) {
            depth.at<double>(y, x) = scanner.depthAt(x, y);
        });
    }
    return depth;
}

cv::Mat renderSilhouette(const Mesh& mesh, const PinholeCamera& camera) {
    const cv::Mat depth = renderDepth(mesh, camera);
    cv::Mat coverage(depth.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < depth.rows; ++y) {
        for (int x = 0; x < depth.cols; ++x) {
            if (std::isfinite(depth.at<double>(y, x))) coverage.at<std::uint8_t>(y, x) = 255;
        }
    }
    return coverage;
}

}  // namespace pelorin::evaluation
