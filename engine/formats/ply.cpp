#include "engine/formats/ply.h"

#include <cstring>
#include <functional>
#include <numeric>
#include <sstream>

#include "common/bytes.h"
#include "common/files/atomic_file.h"
#include "common/files/file_reader.h"

namespace pelorin::engine {

namespace {

struct Property {
    std::string name;
    std::string type;       // scalar type, or the item type of a list
    std::string countType;  // empty unless a list
};

struct Element {
    std::string name;
    std::size_t count = 0;
    std::vector<Property> properties;
};

struct Failure {
    std::string message;
};

std::size_t typeSize(const std::string& type) {
    if (type == "char" || type == "uchar" || type == "int8" || type == "uint8") return 1;
    if (type == "short" || type == "ushort" || type == "int16" || type == "uint16") return 2;
    if (type == "int" || type == "uint" || type == "float" || type == "int32" || type == "uint32" ||
        type == "float32")
        return 4;
    if (type == "double" || type == "float64") return 8;
    throw Failure{"unknown PLY type " + type};
}

// Reads binary little-endian and ASCII bodies alike, one value at a time.
class Body {
  public:
    Body(std::string_view bytes, bool ascii) : bytes_(bytes), ascii_(ascii) {}

    double read(const std::string& type) {
        if (ascii_) {
            while (at_ < bytes_.size() && std::isspace(static_cast<unsigned char>(bytes_[at_])))
                ++at_;
            const std::size_t start = at_;
            while (at_ < bytes_.size() && !std::isspace(static_cast<unsigned char>(bytes_[at_])))
                ++at_;
            if (start == at_) throw Failure{"truncated PLY"};
            try {
                return std::stod(std::string(bytes_.substr(start, at_ - start)));
            } catch (const std::exception&) {
                throw Failure{"the PLY file holds a value that is not a number"};
            }
        }
        const std::size_t size = typeSize(type);
        if (bytes_.size() - at_ < size) throw Failure{"truncated PLY"};
        const char* p = bytes_.data() + at_;
        at_ += size;
        auto load = [&](auto value) {
            std::memcpy(&value, p, sizeof value);
            return static_cast<double>(value);
        };
        if (type == "char" || type == "int8") return load(std::int8_t{});
        if (type == "uchar" || type == "uint8") return load(std::uint8_t{});
        if (type == "short" || type == "int16") return load(std::int16_t{});
        if (type == "ushort" || type == "uint16") return load(std::uint16_t{});
        if (type == "int" || type == "int32") return load(std::int32_t{});
        if (type == "uint" || type == "uint32") return load(std::uint32_t{});
        if (type == "float" || type == "float32") return load(float{});
        return load(double{});
    }

  private:
    std::string_view bytes_;
    bool ascii_;
    std::size_t at_ = 0;
};

struct Parsed {
    std::vector<Element> elements;
    bool ascii = false;
    std::string_view body;
};

Parsed parseHeader(std::string_view text) {
    const auto end = text.find("end_header\n");
    if (!text.starts_with("ply\n") || end == std::string_view::npos)
        throw Failure{"not a PLY file"};
    Parsed parsed;
    parsed.body = text.substr(end + std::strlen("end_header\n"));
    std::istringstream header{std::string(text.substr(0, end))};
    bool formatSeen = false;
    for (std::string line; std::getline(header, line);) {
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        if (keyword == "format") {
            std::string format;
            words >> format;
            if (format == "ascii")
                parsed.ascii = true;
            else if (format != "binary_little_endian")
                throw Failure{"PLY format " + format + " is not read"};
            formatSeen = true;
        } else if (keyword == "element") {
            Element element;
            long long count = -1;
            words >> element.name >> count;
            // No upper bound here: reading stops where the file ends.
            if (count < 0) throw Failure{"a PLY element count is out of range"};
            element.count = static_cast<std::size_t>(count);
            parsed.elements.push_back(element);
        } else if (keyword == "property") {
            if (parsed.elements.empty()) throw Failure{"a PLY property belongs to no element"};
            Property property;
            words >> property.type;
            if (property.type == "list") words >> property.countType >> property.type;
            words >> property.name;
            typeSize(property.type);
            if (!property.countType.empty()) typeSize(property.countType);
            parsed.elements.back().properties.push_back(property);
        }
    }
    if (!formatSeen) throw Failure{"the PLY file names no format"};
    return parsed;
}

// Calls `row` for each item of each element with the item's values by property name (lists
// give their items in `list`).
template <class Row>
void walk(const Parsed& parsed, Row&& row) {
    Body body(parsed.body, parsed.ascii);
    std::vector<double> values;
    std::vector<double> list;
    for (const auto& element : parsed.elements) {
        // Each item reads at least one value, so the file's size bounds the loop below.
        if (element.count > 0 && element.properties.empty())
            throw Failure{"PLY element " + element.name + " has no properties"};
        for (std::size_t i = 0; i < element.count; ++i) {
            values.clear();
            list.clear();
            for (const auto& property : element.properties) {
                if (property.countType.empty()) {
                    values.push_back(body.read(property.type));
                    continue;
                }
                const double count = body.read(property.countType);
                if (count < 0 || count > 1000) throw Failure{"a PLY list is too long"};
                for (int k = 0; k < static_cast<int>(count); ++k)
                    list.push_back(body.read(property.type));
                values.push_back(count);
            }
            row(element, values, list);
        }
    }
}

int indexOf(const Element& element, const std::string& name) {
    for (std::size_t i = 0; i < element.properties.size(); ++i)
        if (element.properties[i].name == name) return static_cast<int>(i);
    return -1;
}

template <class T>
pelorin::Expected<T, std::string> guarded(const std::filesystem::path& file,
                                          const std::function<T(std::string_view)>& body) {
    auto bytes = common::readFile(file, 4ULL << 30);
    if (!bytes) return pelorin::unexpected(bytes.error().description());
    try {
        return body(bytes->text());
    } catch (const Failure& failure) {
        return pelorin::unexpected(file.filename().string() + ": " + failure.message);
    }
}

}  // namespace

pelorin::Expected<SurfaceMesh, std::string> readPlyMesh(const std::filesystem::path& file,
                                                        std::vector<float>* vertexValues) {
    return guarded<SurfaceMesh>(file, [vertexValues](std::string_view text) {
        const Parsed parsed = parseHeader(text);
        SurfaceMesh mesh;
        walk(parsed, [&](const Element& element, const std::vector<double>& values,
                         const std::vector<double>& list) {
            if (element.name == "vertex") {
                const int x = indexOf(element, "x"), y = indexOf(element, "y"),
                          z = indexOf(element, "z");
                if (x < 0 || y < 0 || z < 0) throw Failure{"the vertices have no x, y, z"};
                mesh.vertices.push_back({values[x], values[y], values[z]});
                if (vertexValues) {
                    const int value = indexOf(element, "value");
                    vertexValues->push_back(value < 0 ? 0.0f : float(values[value]));
                }
            } else if (element.name == "face") {
                for (std::size_t k = 2; k < list.size(); ++k) {
                    Triangle t;
                    const double corners[3] = {list[0], list[k - 1], list[k]};
                    for (int c = 0; c < 3; ++c) {
                        if (corners[c] < 0 || corners[c] >= 4294967295.0)
                            throw Failure{"bad PLY vertex index"};
                        t[c] = static_cast<std::uint32_t>(corners[c]);
                    }
                    mesh.triangles.push_back(t);
                }
            }
        });
        for (const auto& t : mesh.triangles)
            for (auto v : t)
                if (v >= mesh.vertices.size()) throw Failure{"PLY vertex index out of range"};
        return mesh;
    });
}

pelorin::Expected<std::monostate, std::string> writePlyMesh(const SurfaceMesh& mesh,
                                                            const std::filesystem::path& file) {
    std::string bytes = "ply\nformat binary_little_endian 1.0\nelement vertex " +
                        std::to_string(mesh.vertices.size()) +
                        "\nproperty double x\nproperty double y\nproperty double z\nelement face " +
                        std::to_string(mesh.triangles.size()) +
                        "\nproperty list uchar uint vertex_indices\nend_header\n";
    const std::size_t start = bytes.size();
    bytes.resize(start + mesh.vertices.size() * 24 + mesh.triangles.size() * 13);
    char* out = bytes.data() + start;
    for (const auto& v : mesh.vertices) {
        std::memcpy(out, v.data(), 24);
        out += 24;
    }
    for (const auto& t : mesh.triangles) {
        *out = 3;
        std::memcpy(out + 1, t.data(), 12);
        out += 13;
    }
    auto written = common::writeFileAtomically(file, bytesOf(bytes));
    if (!written) return pelorin::unexpected(written.error().description());
    return std::monostate{};
}

pelorin::Expected<std::monostate, std::string> writePlyPoints(const std::vector<DensePoint>& points,
                                                              const std::filesystem::path& file) {
    std::string bytes =
        "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(points.size()) +
        "\nproperty float x\nproperty float y\nproperty float z\nproperty float nx\n"
        "property float ny\nproperty float nz\nproperty uchar red\nproperty uchar green\n"
        "property uchar blue\nend_header\n";
    const std::size_t start = bytes.size();
    bytes.resize(start + points.size() * 27);
    char* out = bytes.data() + start;
    for (const auto& p : points) {
        const float values[6] = {float(p.position[0]), float(p.position[1]), float(p.position[2]),
                                 float(p.normal[0]),   float(p.normal[1]),   float(p.normal[2])};
        std::memcpy(out, values, sizeof values);
        std::memcpy(out + 24, p.colour.data(), 3);
        out += 27;
    }
    auto written = common::writeFileAtomically(file, bytesOf(bytes));
    if (!written) return pelorin::unexpected(written.error().description());
    return std::monostate{};
}

pelorin::Expected<std::vector<DensePoint>, std::string> readPlyPoints(
    const std::filesystem::path& file) {
    return guarded<std::vector<DensePoint>>(file, [](std::string_view text) {
        const Parsed parsed = parseHeader(text);
        std::vector<DensePoint> points;
        walk(parsed, [&](const Element& element, const std::vector<double>& values,
                         const std::vector<double>&) {
            if (element.name != "vertex") return;
            int at[9];
            const char* names[9] = {"x", "y", "z", "nx", "ny", "nz", "red", "green", "blue"};
            for (int i = 0; i < 9; ++i)
                if ((at[i] = indexOf(element, names[i])) < 0)
                    throw Failure{std::string("the points have no ") + names[i]};
            DensePoint p;
            p.position = {values[at[0]], values[at[1]], values[at[2]]};
            p.normal = {values[at[3]], values[at[4]], values[at[5]]};
            for (int c = 0; c < 3; ++c) p.colour[c] = static_cast<std::uint8_t>(values[at[6 + c]]);
            points.push_back(p);
        });
        return points;
    });
}

}  // namespace pelorin::engine
