#include "engine/formats/obj_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <unordered_map>

namespace pelorin::engine::ObjReader {

namespace {

namespace fs = std::filesystem;

// Index values must stay below the largest 32-bit value, which glTF reserves.
constexpr std::size_t maxVertices = std::numeric_limits<std::uint32_t>::max() - 1;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool isUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & 0x8080808080808080ull) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        std::ptrdiff_t length;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
        } else {
            return false;
        }
        if (end - p < length) return false;
        const unsigned second = p[1];
        // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
        if ((second & 0xC0) != 0x80 || (lead == 0xE0 && second < 0xA0) ||
            (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
            (lead == 0xF4 && second > 0x8F)) {
            return false;
        }
        for (std::ptrdiff_t i = 2; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
        }
        p += length;
    }
    return true;
}

// Calls onLine with every trimmed, non-empty line. Lines end at LF, VT, FF, CR, NEL, LS and PS.
template <class OnLine>
void forEachLine(std::string_view text, OnLine&& onLine) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* start = p;
    auto emit = [&](const char* stop) {
        const std::string_view line =
            trim(std::string_view(start, static_cast<std::size_t>(stop - start)));
        if (!line.empty()) onLine(line);
    };
    while (p < end) {
        const auto c = static_cast<unsigned char>(*p);
        std::size_t separator = 0;
        if (c >= 0x0A && c <= 0x0D) {
            separator = 1;
        } else if (c == 0xC2 && end - p >= 2 && static_cast<unsigned char>(p[1]) == 0x85) {
            separator = 2;
        } else if (c == 0xE2 && end - p >= 3 && static_cast<unsigned char>(p[1]) == 0x80 &&
                   (static_cast<unsigned char>(p[2]) == 0xA8 ||
                    static_cast<unsigned char>(p[2]) == 0xA9)) {
            separator = 3;
        }
        if (separator == 0) {
            ++p;
            continue;
        }
        emit(p);
        p += separator;
        start = p;
    }
    emit(end);
}

// Space- and tab-separated tokens of a trimmed line.
class Tokens {
  public:
    explicit Tokens(std::string_view line) : rest_(line) {}

    bool next(std::string_view& token) {
        std::size_t i = 0;
        while (i < rest_.size() && isBlank(rest_[i])) ++i;
        if (i == rest_.size()) return false;
        std::size_t j = i;
        while (j < rest_.size() && !isBlank(rest_[j])) ++j;
        token = rest_.substr(i, j - i);
        rest_.remove_prefix(j);
        return true;
    }
    // What follows the tokens taken so far, trimmed.
    std::string_view rest() const { return trim(rest_); }

  private:
    std::string_view rest_;
};

// A leading "+" is accepted, as number parsers commonly do; a second sign is not.
bool dropPlus(std::string_view& text) {
    if (text.empty() || text.front() != '+') return true;
    text.remove_prefix(1);
    return !text.empty() && text.front() != '-' && text.front() != '+';
}

// The whole token as a finite float, else 0: an infinite or NaN coordinate would make every
// bound and normal of the model meaningless.
float parseFloat(std::string_view text) {
    if (!dropPlus(text)) return 0;
    float value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return 0;
    return value;
}

// The zero-based element an OBJ reference names (1 is the first, -1 the last read so far), or
// nothing when the reference is missing, malformed or out of range.
std::optional<std::size_t> resolveIndex(std::string_view text, std::size_t count) {
    if (text.empty() || !dropPlus(text)) return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    const auto size = static_cast<std::int64_t>(count);
    if (value > 0 && value <= size) return static_cast<std::size_t>(value - 1);
    if (value < 0 && value >= -size) return static_cast<std::size_t>(size + value);
    return std::nullopt;
}

std::uint64_t hashToken(std::string_view token) {
    std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ token.size();
    std::size_t i = 0;
    for (; i + 8 <= token.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, token.data() + i, 8);
        hash = (hash ^ word) * 0xBF58476D1CE4E5B9ull;
        hash ^= hash >> 31;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, token.data() + i, token.size() - i);
    hash = (hash ^ tail) * 0x94D049BB133111EBull;
    return hash ^ (hash >> 29);
}

// Output vertex by face-vertex token text. Open addressing over views into the OBJ text, which
// outlives the cache; far fewer allocations than a node-based map at a million corners.
class VertexCache {
  public:
    VertexCache() : slots_(1024, 0) {}

    std::optional<std::uint32_t> find(std::string_view token, std::uint64_t hash) const {
        for (std::size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i] == 0) return std::nullopt;
            const Entry& entry = entries_[slots_[i] - 1];
            if (entry.hash == hash && entry.token == token) return entry.vertex;
        }
    }

    void insert(std::string_view token, std::uint64_t hash, std::uint32_t vertex) {
        entries_.push_back({token, hash, vertex});
        if (entries_.size() * 2 > slots_.size()) {
            slots_.assign(slots_.size() * 2, 0);
            for (std::size_t e = 0; e < entries_.size(); ++e) place(e);
        } else {
            place(entries_.size() - 1);
        }
    }

  private:
    struct Entry {
        std::string_view token;
        std::uint64_t hash;
        std::uint32_t vertex;
    };

    void place(std::size_t entry) {
        std::size_t i = entries_[entry].hash & (slots_.size() - 1);
        while (slots_[i] != 0) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = entry + 1;
    }

    std::vector<std::size_t> slots_;  // entry index + 1; 0 is free
    std::vector<Entry> entries_;
};

class ObjParser {
  public:
    explicit ObjParser(std::size_t textSize) {
        mesh.groups.emplace_back();
        groupByName.emplace(std::string(), 0);
        // A typical service OBJ spends about 90 bytes per vertex over its v, vt, vn and f lines.
        // Reserving only claims address space; pages are touched as the arrays fill.
        const std::size_t vertices = textSize / 90;
        for (auto* list : {&mesh.positions, &mesh.normals, &rawPositions, &rawNormals}) {
            list->reserve(vertices * 3);
        }
        mesh.texcoords.reserve(vertices * 2);
        rawTexcoords.reserve(vertices * 2);
    }

    void line(std::string_view line) {
        if (line.front() == '#') return;
        Tokens tokens(line);
        std::string_view keyword;
        tokens.next(keyword);
        if (keyword == "v") {
            readFloats(tokens, 3, 3, rawPositions);
        } else if (keyword == "vt") {
            readFloats(tokens, 1, 2, rawTexcoords);
        } else if (keyword == "vn") {
            readFloats(tokens, 3, 3, rawNormals);
        } else if (keyword == "f") {
            face(tokens);
        } else if (keyword == "usemtl") {
            useMaterial(tokens.rest());
        } else if (keyword == "mtllib" && !sawMtllib) {
            sawMtllib = true;
            mtllib = tokens.rest();
        }
    }

    TexturedMesh finish() && {
        std::erase_if(mesh.groups, [](const MeshGroup& group) { return group.indices.empty(); });
        return std::move(mesh);
    }

    TexturedMesh mesh;
    std::string mtllib;

  private:
    static constexpr float defaultTexcoord[2] = {0, 0};
    static constexpr float defaultNormal[3] = {0, 1, 0};

    // Element-wise: a range insert of two or three floats costs more than the copy.
    static void append(std::vector<float>& into, const float* values, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) into.push_back(values[i]);
    }

    // Appends `stored` values when the line has at least `needed`; absent ones are 0.
    static void readFloats(Tokens& tokens, std::size_t needed, std::size_t stored,
                           std::vector<float>& into) {
        float values[3] = {0, 0, 0};
        std::size_t count = 0;
        std::string_view token;
        while (count < stored && tokens.next(token)) values[count++] = parseFloat(token);
        if (count < needed) return;
        append(into, values, stored);
    }

    void face(Tokens& tokens) {
        corners.clear();
        std::string_view token;
        while (tokens.next(token)) {
            const auto vertex = faceVertex(token);
            if (!vertex) return;
            corners.push_back(*vertex);
        }
        if (corners.size() < 3) return;
        auto& indices = mesh.groups[current].indices;
        for (std::size_t k = 1; k + 1 < corners.size(); ++k) {
            indices.push_back(corners[0]);
            indices.push_back(corners[k]);
            indices.push_back(corners[k + 1]);
        }
    }

    std::optional<std::uint32_t> faceVertex(std::string_view token) {
        // A relative reference names a different vertex as the file goes on, so only tokens
        // without one may be merged by their text.
        const bool cacheable = token.find('-') == std::string_view::npos;
        std::uint64_t hash = 0;
        if (cacheable) {
            hash = hashToken(token);
            if (const auto cached = cache.find(token, hash)) return cached;
        }
        std::string_view parts[3];
        std::string_view rest = token;
        for (std::size_t i = 0; i < 3; ++i) {
            const std::size_t slash = rest.find('/');
            parts[i] = rest.substr(0, slash);
            if (slash == std::string_view::npos) break;
            rest.remove_prefix(slash + 1);
        }
        const auto position = resolveIndex(parts[0], rawPositions.size() / 3);
        if (!position || mesh.vertexCount() >= maxVertices) return std::nullopt;
        const auto texcoord = resolveIndex(parts[1], rawTexcoords.size() / 2);
        const auto normal = resolveIndex(parts[2], rawNormals.size() / 3);

        append(mesh.positions, &rawPositions[*position * 3], 3);
        append(mesh.texcoords, texcoord ? &rawTexcoords[*texcoord * 2] : defaultTexcoord, 2);
        append(mesh.normals, normal ? &rawNormals[*normal * 3] : defaultNormal, 3);
        mesh.hasTexcoords = mesh.hasTexcoords || texcoord;
        mesh.hasNormals = mesh.hasNormals || normal;
        const auto vertex = static_cast<std::uint32_t>(mesh.vertexCount() - 1);
        if (cacheable) cache.insert(token, hash, vertex);
        return vertex;
    }

    void useMaterial(std::string_view name) {
        const auto [found, added] = groupByName.try_emplace(std::string(name), mesh.groups.size());
        if (added) mesh.groups.push_back({std::string(name), {}, std::nullopt});
        current = found->second;
    }

    std::vector<float> rawPositions;
    std::vector<float> rawNormals;
    std::vector<float> rawTexcoords;
    VertexCache cache;
    std::unordered_map<std::string, std::size_t> groupByName;
    std::size_t current = 0;
    std::vector<std::uint32_t> corners;
    bool sawMtllib = false;
};

// The file a name in a model file refers to, as long as it stays inside folder: the names come
// from the file, and an absolute or "../" name could otherwise embed any readable file of the
// user's in a model that is then sent to a phone.
std::optional<fs::path> insideFolder(const fs::path& folder, std::string_view name) {
    const fs::path relative(name);
    if (relative.empty() || relative.has_root_path()) return std::nullopt;
    for (const auto& part : relative) {
        if (part == "..") return std::nullopt;
    }
    return folder / relative;
}

std::string_view asText(const common::MappedFile& file) {
    std::string_view text = file.text();
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);  // byte order mark
    return text;
}

}  // namespace

std::optional<fs::path> findObjFile(const fs::path& folder) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (lowerCase(it->path().extension().string()) == ".obj") return it->path();
    }
    return std::nullopt;
}

Expected<TexturedMesh, ModelFailure> readObjFolder(const fs::path& folder) {
    const auto file = findObjFile(folder);
    if (!file) return unexpected(ModelFailure(ModelError::noObj));
    auto mesh = parseOBJ(*file);
    if (!mesh) return unexpected(ModelFailure(mesh.error()));
    if (mesh->groups.empty()) return unexpected(ModelFailure(ModelError::empty));
    return std::move(mesh).value();
}

TexturedMesh parseObjText(std::string_view text, std::string* mtllib) {
    ObjParser parser(text.size());
    forEachLine(text, [&](std::string_view line) { parser.line(line); });
    if (mtllib) *mtllib = parser.mtllib;
    return std::move(parser).finish();
}

Expected<TexturedMesh, common::FileError> parseOBJ(const fs::path& file) {
    auto bytes = common::readFile(file, maxFileBytes);
    if (!bytes) return unexpected(bytes.error());
    const std::string_view text = asText(*bytes);
    if (!isUtf8(text)) {
        return unexpected(common::FileError{common::FileError::Operation::read, file,
                                            "The file is not UTF-8 text"});
    }
    std::string mtllib;
    TexturedMesh mesh = parseObjText(text, &mtllib);
    if (const auto library = insideFolder(file.parent_path(), mtllib)) {
        assignTextures(mesh, parseMTL(*library));
    }
    return mesh;
}

TextureMap parseMtlText(std::string_view text, const fs::path& folder) {
    TextureMap textures;
    // Each image file is read once however many materials name it.
    std::map<fs::path, std::optional<TextureImage>> loaded;
    std::optional<std::string> material;
    forEachLine(text, [&](std::string_view line) {
        Tokens tokens(line);
        std::string_view keyword;
        tokens.next(keyword);
        if (keyword == "newmtl") {
            material = std::string(tokens.rest());
            return;
        }
        if (keyword != "map_Kd" || !material) return;
        // Options come before the file name, so the name is the last part.
        std::string_view name;
        for (std::string_view token; tokens.next(token);) name = token;
        const auto file = insideFolder(folder, name);
        if (!file) return;
        auto [entry, added] = loaded.try_emplace(*file);
        if (added) {
            if (auto mapped = common::readFile(*file, maxFileBytes)) {
                const bool png = lowerCase(file->extension().string()) == ".png";
                auto owner = std::make_shared<const common::MappedFile>(std::move(*mapped));
                entry->second =
                    TextureImage{owner->bytes(), owner, png ? "image/png" : "image/jpeg"};
            }
        }
        if (entry->second) textures.insert_or_assign(*material, *entry->second);
    });
    return textures;
}

TextureMap parseMTL(const fs::path& file) {
    const auto bytes = common::readFile(file, maxFileBytes);
    if (!bytes) return {};
    const std::string_view text = asText(*bytes);
    if (!isUtf8(text)) return {};
    return parseMtlText(text, file.parent_path());
}

void assignTextures(TexturedMesh& mesh, const TextureMap& textures) {
    for (auto& group : mesh.groups) {
        const auto own = textures.find(group.material);
        if (own != textures.end()) {
            group.texture = own->second;
        } else if (!textures.empty()) {
            group.texture = textures.begin()->second;
        } else {
            group.texture.reset();
        }
    }
}

}  // namespace pelorin::engine::ObjReader
