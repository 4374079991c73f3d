#include "bench/evaluation/mesh.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "bench/evaluation/model_file.h"
#include "link/file_reader.h"

namespace pelorin::evaluation {

namespace fs = std::filesystem;

double Mesh::diagonal() const {
    if (vertices.empty()) return 0;
    Point low = vertices[0], high = vertices[0];
    for (const auto& v : vertices) {
        for (int i = 0; i < 3; ++i) {
            low[i] = std::min(low[i], v[i]);
            high[i] = std::max(high[i], v[i]);
        }
    }
    double sum = 0;
    for (int i = 0; i < 3; ++i) sum += (high[i] - low[i]) * (high[i] - low[i]);
    return std::sqrt(sum);
}

namespace {

struct PlyProperty {
    std::string type;
    std::string name;
    bool isList = false;
    std::string countType;
};

struct PlyElement {
    std::string name;
    std::size_t count = 0;
    std::vector<PlyProperty> properties;
};

std::size_t typeSize(const std::string& type) {
    if (type == "char" || type == "uchar" || type == "int8" || type == "uint8") return 1;
    if (type == "short" || type == "ushort" || type == "int16" || type == "uint16") return 2;
    if (type == "int" || type == "uint" || type == "float" || type == "int32" || type == "uint32" ||
        type == "float32") {
        return 4;
    }
    if (type == "double" || type == "float64") return 8;
    return 0;
}

double readBinary(const std::uint8_t* p, const std::string& type) {
    auto as = [p](auto value) {
        std::memcpy(&value, p, sizeof value);
        return static_cast<double>(value);
    };
    if (type == "char" || type == "int8") return as(std::int8_t{});
    if (type == "uchar" || type == "uint8") return as(std::uint8_t{});
    if (type == "short" || type == "int16") return as(std::int16_t{});
    if (type == "ushort" || type == "uint16") return as(std::uint16_t{});
    if (type == "int" || type == "int32") return as(std::int32_t{});
    if (type == "uint" || type == "uint32") return as(std::uint32_t{});
    if (type == "float" || type == "float32") return as(float{});
    return as(double{});
}

pelorin::Expected<Mesh, std::string> loadPly(const fs::path& path) {
    auto file = link::readFile(path, 1ull << 32);
    if (!file) return pelorin::unexpected(file.error().description());
    const std::string_view text = file->text();
    const auto end = text.find("end_header\n");
    if (!text.starts_with("ply\n") || end == std::string_view::npos) {
        return pelorin::unexpected(std::string("not a PLY file"));
    }
    std::istringstream header(std::string(text.substr(0, end)));
    std::string line, format;
    std::vector<PlyElement> elements;
    while (std::getline(header, line)) {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        if (keyword == "format") {
            words >> format;
        } else if (keyword == "element") {
            PlyElement element;
            words >> element.name >> element.count;
            elements.push_back(element);
        } else if (keyword == "property" && !elements.empty()) {
            PlyProperty property;
            words >> property.type;
            if (property.type == "list") {
                property.isList = true;
                words >> property.countType >> property.type;
            }
            words >> property.name;
            elements.back().properties.push_back(property);
        }
    }
    Mesh mesh;
    const std::uint8_t* data = file->bytes().data() + end + 11;
    const std::uint8_t* limit = file->bytes().data() + file->bytes().size();
    std::istringstream ascii(std::string(text.substr(end + 11)));
    const bool binary = format == "binary_little_endian";
    if (!binary && format != "ascii")
        return pelorin::unexpected("unsupported PLY format " + format);
    auto next = [&](const std::string& type) -> std::optional<double> {
        if (!binary) {
            double value;
            if (!(ascii >> value)) return std::nullopt;
            return value;
        }
        const std::size_t size = typeSize(type);
        if (size == 0 || data + size > limit) return std::nullopt;
        const double value = readBinary(data, type);
        data += size;
        return value;
    };
    for (const auto& element : elements) {
        // Each element reads at least one value, so the file's size bounds the loops below.
        if (element.count > 0 && element.properties.empty())
            return pelorin::unexpected("PLY element " + element.name + " has no properties");
        for (std::size_t i = 0; i < element.count; ++i) {
            Point position{};
            for (const auto& property : element.properties) {
                if (property.isList) {
                    auto count = next(property.countType);
                    if (!count) return pelorin::unexpected(std::string("truncated PLY"));
                    if (*count < 0 || *count > 64)
                        return pelorin::unexpected(std::string("bad PLY list"));
                    std::vector<std::uint32_t> corners;
                    for (int c = 0; c < static_cast<int>(*count); ++c) {
                        auto index = next(property.type);
                        if (!index) return pelorin::unexpected(std::string("truncated PLY"));
                        if (!(*index >= 0 && *index < 4294967295.0))
                            return pelorin::unexpected(std::string("bad PLY vertex index"));
                        corners.push_back(static_cast<std::uint32_t>(*index));
                    }
                    if (element.name == "face") {
                        for (std::size_t c = 2; c < corners.size(); ++c) {
                            mesh.triangles.push_back({corners[0], corners[c - 1], corners[c]});
                        }
                    }
                    continue;
                }
                auto value = next(property.type);
                if (!value) return pelorin::unexpected(std::string("truncated PLY"));
                if (element.name == "vertex") {
                    if (property.name == "x") position[0] = *value;
                    if (property.name == "y") position[1] = *value;
                    if (property.name == "z") position[2] = *value;
                }
            }
            if (element.name == "vertex") mesh.vertices.push_back(position);
        }
    }
    return mesh;
}

}  // namespace

pelorin::Expected<Mesh, std::string> loadMesh(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    auto failed = [&](const std::string& reason) {
        return pelorin::unexpected(path.string() + ": " + reason);
    };
    Mesh mesh;
    if (extension == ".ply") {
        auto read = loadPly(path);
        if (!read) return failed(read.error());
        mesh = std::move(read).value();
    } else {
        // Its reasons name the file already.
        auto textured = loadTexturedModel(path);
        if (!textured) return pelorin::unexpected(textured.error());
        mesh = geometryOf(*textured);
    }
    // Far-off or non-finite coordinates would break the distance grid's arithmetic.
    for (const auto& vertex : mesh.vertices) {
        for (double c : vertex) {
            if (!(std::abs(c) < 1e9))
                return failed("a vertex lies at a non-finite or absurd place");
        }
    }
    for (const auto& triangle : mesh.triangles) {
        for (auto index : triangle) {
            if (index >= mesh.vertices.size()) return failed("index out of range");
        }
    }
    if (mesh.triangles.empty()) return failed("the mesh has no triangles");
    return mesh;
}

bool saveAsciiPly(const Mesh& mesh, const fs::path& path) {
    std::ofstream out(path);
    out << "ply\nformat ascii 1.0\nelement vertex " << mesh.vertices.size()
        << "\nproperty double x\nproperty double y\nproperty double z\nelement face "
        << mesh.triangles.size() << "\nproperty list uchar int vertex_indices\nend_header\n";
    out.precision(17);
    for (const auto& v : mesh.vertices) out << v[0] << ' ' << v[1] << ' ' << v[2] << '\n';
    for (const auto& t : mesh.triangles) out << "3 " << t[0] << ' ' << t[1] << ' ' << t[2] << '\n';
    return static_cast<bool>(out);
}

}  // namespace pelorin::evaluation
