#include "link/records/record_coding.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "link/records/field_table.h"

namespace pelorin::link {

namespace coding {

namespace {

// Records nest a handful of levels; anything deeper is hostile and would only cost stack.
constexpr int maxNesting = 64;

bool nestingWithinLimit(std::string_view text) {
    int depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > maxNesting) return false;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return true;
}

}  // namespace

void fail(const std::string& message) {
    throw DecodingFailure(message);
}

Json parse(std::string_view text) {
    if (!nestingWithinLimit(text)) fail("nested too deeply");
    Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) fail("not valid JSON");
    return value;
}

std::string dump(const Json& value) {
    // Text from the disk may not be UTF-8; replace what cannot be written rather than throw.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::pair<std::string, const Json*> singleKey(const Json& value) {
    if (!value.is_object()) fail("expected an object");
    if (value.size() != 1) fail("Invalid number of keys found, expected one.");
    auto entry = value.begin();
    return {entry.key(), &entry.value()};
}

ObjectReader::ObjectReader(const Json& value) : object_(value) {
    if (!value.is_object()) fail("expected an object");
}

const Json* ObjectReader::find(const char* key) const {
    auto entry = object_.find(key);
    if (entry == object_.end() || entry->is_null()) return nullptr;
    return &*entry;
}

}  // namespace coding

using coding::fail;

bool Coding<bool>::decode(const Json& value) {
    if (!value.is_boolean()) fail("expected a boolean");
    return value.get<bool>();
}

std::int64_t Coding<std::int64_t>::decode(const Json& value) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            fail("number out of range");
        }
        return static_cast<std::int64_t>(number);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        // 12.0 is an integer written by a writer that does not know better; 12.5 is not.
        const double number = value.get<double>();
        if (std::trunc(number) != number || std::fabs(number) > 9007199254740992.0) {
            fail("expected an integer");
        }
        return static_cast<std::int64_t>(number);
    }
    fail("expected an integer");
}

int Coding<int>::decode(const Json& value) {
    const std::int64_t number = Coding<std::int64_t>::decode(value);
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
        fail("number out of range");
    }
    return static_cast<int>(number);
}

double Coding<double>::decode(const Json& value) {
    if (!value.is_number()) fail("expected a number");
    const double number = value.get<double>();
    if (!std::isfinite(number)) fail("number out of range");
    return number;
}

Json Coding<float>::encode(float value) {
    if (!std::isfinite(value)) return 0.0;
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    double shortest = 0;
    std::from_chars(text, end, shortest);
    return shortest;
}

float Coding<float>::decode(const Json& value) {
    const double number = Coding<double>::decode(value);
    if (std::fabs(number) > std::numeric_limits<float>::max()) fail("number out of range");
    return static_cast<float>(number);
}

std::string Coding<std::string>::decode(const Json& value) {
    if (!value.is_string()) fail("expected a string");
    return value.get<std::string>();
}

Uuid Coding<Uuid>::decode(const Json& value) {
    auto uuid = Uuid::parse(Coding<std::string>::decode(value));
    if (!uuid) fail("not a UUID");
    return *uuid;
}

Date Coding<Date>::decode(const Json& value) {
    return Date{Coding<double>::decode(value)};
}

namespace {

template <class Enum>
Enum decodeEnum(const Json& value, std::optional<Enum> (*fromJson)(std::string_view)) {
    auto result = fromJson(Coding<std::string>::decode(value));
    if (!result) fail("unknown value \"" + value.get<std::string>() + "\"");
    return *result;
}

}  // namespace

Json Coding<ProcessingDetail>::encode(const ProcessingDetail& value) {
    return std::string(jsonValue(value));
}
ProcessingDetail Coding<ProcessingDetail>::decode(const Json& value) {
    return decodeEnum(value, processingDetailFromJson);
}

Json Coding<CaptureMode>::encode(const CaptureMode& value) {
    return std::string(jsonValue(value));
}
CaptureMode Coding<CaptureMode>::decode(const Json& value) {
    return decodeEnum(value, captureModeFromJson);
}

Json Coding<JobPhase>::encode(const JobPhase& value) {
    return std::string(jsonValue(value));
}
JobPhase Coding<JobPhase>::decode(const Json& value) {
    return decodeEnum(value, jobPhaseFromJson);
}

namespace {

using coding::defaulted;
using coding::field;

// Options are always written whole and read key by key with defaults, so that phones of any
// version agree on them.
constexpr auto fields(std::type_identity<ProcessingOptions>) {
    using O = ProcessingOptions;
    return std::tuple{defaulted("detail", &O::detail),
                      defaulted("sequentialOrdering", &O::sequentialOrdering),
                      defaulted("highFeatureSensitivity", &O::highFeatureSensitivity),
                      defaulted("objectMasking", &O::objectMasking),
                      defaulted("useMotionData", &O::useMotionData),
                      defaulted("exportOBJ", &O::exportOBJ),
                      defaulted("exportPointCloud", &O::exportPointCloud),
                      defaulted("isolateSubject", &O::isolateSubject)};
}

constexpr auto fields(std::type_identity<Vector3>) {
    return std::tuple{field("x", &Vector3::x), field("y", &Vector3::y), field("z", &Vector3::z)};
}

constexpr auto fields(std::type_identity<ImageRecord>) {
    using I = ImageRecord;
    return std::tuple{field("fileName", &I::fileName),
                      field("capturedAt", &I::capturedAt),
                      field("gravity", &I::gravity),
                      field("hasDepth", &I::hasDepth),
                      field("yawDegrees", &I::yawDegrees),
                      field("pitchDegrees", &I::pitchDegrees),
                      field("cameraTransform", &I::cameraTransform),
                      field("intrinsics", &I::intrinsics),
                      field("bytes", &I::bytes)};
}

constexpr auto fields(std::type_identity<ObjectBounds>) {
    using B = ObjectBounds;
    return std::tuple{field("centre", &B::centre), field("radius", &B::radius),
                      field("height", &B::height)};
}

constexpr auto fields(std::type_identity<CaptureManifest>) {
    using M = CaptureManifest;
    return std::tuple{field("id", &M::id),
                      field("name", &M::name),
                      field("createdAt", &M::createdAt),
                      field("deviceModel", &M::deviceModel),
                      field("appVersion", &M::appVersion),
                      field("images", &M::images),
                      field("options", &M::options),
                      field("captureMode", &M::captureMode),
                      field("objectBounds", &M::objectBounds)};
}

constexpr auto fields(std::type_identity<JobStatus>) {
    using S = JobStatus;
    return std::tuple{field("captureID", &S::captureID),
                      field("phase", &S::phase),
                      field("fraction", &S::fraction),
                      field("stage", &S::stage),
                      field("secondsRemaining", &S::secondsRemaining),
                      field("message", &S::message),
                      field("modelBytes", &S::modelBytes)};
}

}  // namespace

PELORIN_CODING_FROM_FIELDS(ProcessingOptions)
PELORIN_CODING_FROM_FIELDS(Vector3)
PELORIN_CODING_FROM_FIELDS(ImageRecord)
PELORIN_CODING_FROM_FIELDS(ObjectBounds)
PELORIN_CODING_FROM_FIELDS(CaptureManifest)
PELORIN_CODING_FROM_FIELDS(JobStatus)

}  // namespace pelorin::link
