#include "engine/reconstruction/local/colmap/sparse_model.h"

#include <cmath>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace pelorin::engine::local {

namespace {

Mat3 fromQuaternion(double w, double x, double y, double z) {
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    w /= n, x /= n, y /= n, z /= n;
    return {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
            2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
            2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
}

// Lines that are neither empty nor comments.
std::vector<std::string> dataLines(const std::filesystem::path& file, bool keepEmpty) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '#') continue;
        if (line.empty() && !keepEmpty) continue;
        lines.push_back(std::move(line));
    }
    return lines;
}

struct Failure {
    std::string message;
};

// One photo of images.txt: its pose line, then its observations (an empty line when it has
// none, which must not shift the photos after it).
struct ImageRecord {
    RegisteredView view;
    int cameraId = 0;
};

ImageRecord parsePose(const std::string& line) {
    std::istringstream in(line);
    ImageRecord record;
    RegisteredView& view = record.view;
    double qw, qx, qy, qz, tx, ty, tz;
    in >> view.id >> qw >> qx >> qy >> qz >> tx >> ty >> tz >> record.cameraId;
    std::getline(in >> std::ws, view.name);
    if ((!in.eof() && !in) || view.name.empty())
        throw Failure{"an image line cannot be read: " + line.substr(0, 80)};
    view.rotation = fromQuaternion(qw, qx, qy, qz);
    // centre = -R^T t
    view.centre = -1.0 * (transposed(view.rotation) * Vec3{tx, ty, tz});
    return record;
}

std::vector<ImageRecord> imageRecords(const std::filesystem::path& file) {
    const auto lines = dataLines(file, true);
    std::vector<ImageRecord> records;
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        if (lines[i].empty()) break;  // only blank lines follow the records
        ImageRecord record = parsePose(lines[i]);
        RegisteredView& view = record.view;
        if (i + 1 < lines.size()) {
            std::istringstream observations(lines[i + 1]);
            double x, y;
            std::int64_t pointId;
            while (observations >> x >> y >> pointId)
                if (pointId >= 0) view.pointIds.push_back(pointId);
        }
        records.push_back(std::move(record));
    }
    return records;
}

// One line of cameras.txt; `pinholeOnly` refuses the distorted models.
LensCamera parseCamera(const std::string& line, bool pinholeOnly) {
    std::istringstream in(line);
    std::string model;
    LensCamera lens;
    PinholeCamera& camera = lens.pinhole;
    in >> lens.id >> model >> camera.width >> camera.height;
    if (pinholeOnly && model != "PINHOLE" && model != "SIMPLE_PINHOLE")
        throw Failure{"the camera model " + model + " is not undistorted"};
    if (model == "PINHOLE") {
        in >> camera.fx >> camera.fy >> camera.cx >> camera.cy;
    } else if (model == "SIMPLE_PINHOLE" || model == "SIMPLE_RADIAL" || model == "RADIAL") {
        in >> camera.fx >> camera.cx >> camera.cy;
        camera.fy = camera.fx;
        if (model != "SIMPLE_PINHOLE") in >> lens.k1;
        if (model == "RADIAL") in >> lens.k2;
    } else {
        throw Failure{"the camera model " + model + " cannot be undistorted"};
    }
    if (!in || camera.width <= 0 || camera.height <= 0 || camera.fx <= 0 || camera.fy <= 0 ||
        !std::isfinite(lens.k1) || !std::isfinite(lens.k2))
        throw Failure{"a camera line cannot be read: " + line};
    return lens;
}

}  // namespace

Vec3 RegisteredView::toCamera(const Vec3& world) const {
    return rotation * (world - centre);
}

Vec3 RegisteredView::project(const Vec3& world) const {
    const Vec3 c = toCamera(world);
    return {camera.fx * c[0] / c[2] + camera.cx, camera.fy * c[1] / c[2] + camera.cy, c[2]};
}

void SparseModel::transform(double scale, const Mat3& rotation, const Vec3& translation) {
    auto apply = [&](const Vec3& p) { return scale * (rotation * p) + translation; };
    for (auto& [id, point] : points) point.position = apply(point.position);
    const Mat3 back = transposed(rotation);
    for (auto& view : views) {
        view.centre = apply(view.centre);
        view.rotation = view.rotation * back;
    }
}

pelorin::Expected<SparseModel, std::string> loadSparseModel(const std::filesystem::path& folder) {
    for (const char* name : {"cameras.txt", "images.txt", "points3D.txt"}) {
        if (!std::filesystem::is_regular_file(folder / name))
            return pelorin::unexpected("the sparse model has no " + std::string(name));
    }
    try {
        std::map<int, PinholeCamera> cameras;
        for (const auto& line : dataLines(folder / "cameras.txt", false)) {
            const LensCamera camera = parseCamera(line, true);
            cameras[camera.id] = camera.pinhole;
        }
        SparseModel model;
        std::map<int, std::size_t> viewIndex;
        for (auto& record : imageRecords(folder / "images.txt")) {
            RegisteredView& view = record.view;
            const auto camera = cameras.find(record.cameraId);
            if (camera == cameras.end())
                throw Failure{"an image names no known camera: " + view.name};
            view.camera = camera->second;
            viewIndex[view.id] = model.views.size();
            model.views.push_back(std::move(view));
        }
        for (const auto& line : dataLines(folder / "points3D.txt", false)) {
            std::istringstream in(line);
            std::int64_t id;
            SparsePoint point;
            int r, g, b;
            in >> id >> point.position[0] >> point.position[1] >> point.position[2] >> r >> g >>
                b >> point.error;
            if (!in) throw Failure{"a point line cannot be read: " + line.substr(0, 80)};
            point.colour = {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                            static_cast<std::uint8_t>(b)};
            int imageId, pointIndex;
            while (in >> imageId >> pointIndex)
                if (viewIndex.count(imageId)) point.viewIds.push_back(imageId);
            model.points.emplace(id, std::move(point));
        }
        return model;
    } catch (const Failure& failure) {
        return pelorin::unexpected(failure.message);
    }
}

pelorin::Expected<std::vector<LensCamera>, std::string> readLensCameras(
    const std::filesystem::path& folder) {
    if (!std::filesystem::is_regular_file(folder / "cameras.txt"))
        return pelorin::unexpected(std::string("the sparse model has no cameras.txt"));
    try {
        std::vector<LensCamera> cameras;
        for (const auto& line : dataLines(folder / "cameras.txt", false))
            cameras.push_back(parseCamera(line, false));
        return cameras;
    } catch (const Failure& failure) {
        return pelorin::unexpected(failure.message);
    }
}

pelorin::Expected<std::string, std::string> movedObservations(
    const std::filesystem::path& folder, const ObservationMove& move,
    std::vector<std::pair<std::string, int>>& photos) {
    if (!std::filesystem::is_regular_file(folder / "images.txt"))
        return pelorin::unexpected(std::string("the sparse model has no images.txt"));
    try {
        const auto lines = dataLines(folder / "images.txt", true);
        std::ostringstream out;
        out << std::setprecision(10);
        for (std::size_t i = 0; i < lines.size(); i += 2) {
            if (lines[i].empty()) break;  // only blank lines follow the records
            const ImageRecord record = parsePose(lines[i]);
            out << lines[i] << '\n';
            std::istringstream observations(i + 1 < lines.size() ? lines[i + 1] : std::string());
            double x, y;
            std::int64_t pointId;
            const char* separator = "";
            while (observations >> x >> y >> pointId) {
                const auto [movedX, movedY] = move(record.cameraId, x, y);
                out << separator << movedX << ' ' << movedY << ' ' << pointId;
                separator = " ";
            }
            out << '\n';
            photos.emplace_back(record.view.name, record.cameraId);
        }
        return out.str();
    } catch (const Failure& failure) {
        return pelorin::unexpected(failure.message);
    }
}

pelorin::Expected<std::vector<std::string>, std::string> readRegisteredNames(
    const std::filesystem::path& folder) {
    if (!std::filesystem::is_regular_file(folder / "images.txt"))
        return pelorin::unexpected(std::string("the sparse model has no images.txt"));
    try {
        std::vector<std::string> names;
        for (const auto& record : imageRecords(folder / "images.txt"))
            names.push_back(record.view.name);
        return names;
    } catch (const Failure& failure) {
        return pelorin::unexpected(failure.message);
    }
}

}  // namespace pelorin::engine::local
