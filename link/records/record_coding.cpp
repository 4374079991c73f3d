#include "link/records/record_coding.h"

#include <charconv>
#include <cmath>
#include <limits>

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
using coding::ObjectReader;
using coding::ObjectWriter;

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

// Options are always written whole and read key by key with defaults, so that phones of any
// version agree on them.
Json Coding<ProcessingOptions>::encode(const ProcessingOptions& o) {
    return ObjectWriter()
        .add("detail", o.detail)
        .add("sequentialOrdering", o.sequentialOrdering)
        .add("highFeatureSensitivity", o.highFeatureSensitivity)
        .add("objectMasking", o.objectMasking)
        .add("useMotionData", o.useMotionData)
        .add("exportOBJ", o.exportOBJ)
        .add("exportPointCloud", o.exportPointCloud)
        .add("isolateSubject", o.isolateSubject)
        .take();
}

ProcessingOptions Coding<ProcessingOptions>::decode(const Json& value) {
    const ObjectReader r(value);
    const ProcessingOptions d;
    ProcessingOptions o;
    o.detail = r.optional<ProcessingDetail>("detail").value_or(d.detail);
    o.sequentialOrdering = r.optional<bool>("sequentialOrdering").value_or(d.sequentialOrdering);
    o.highFeatureSensitivity =
        r.optional<bool>("highFeatureSensitivity").value_or(d.highFeatureSensitivity);
    o.objectMasking = r.optional<bool>("objectMasking").value_or(d.objectMasking);
    o.useMotionData = r.optional<bool>("useMotionData").value_or(d.useMotionData);
    o.exportOBJ = r.optional<bool>("exportOBJ").value_or(d.exportOBJ);
    o.exportPointCloud = r.optional<bool>("exportPointCloud").value_or(d.exportPointCloud);
    o.isolateSubject = r.optional<bool>("isolateSubject").value_or(d.isolateSubject);
    return o;
}

Json Coding<Vector3>::encode(const Vector3& v) {
    return ObjectWriter().add("x", v.x).add("y", v.y).add("z", v.z).take();
}

Vector3 Coding<Vector3>::decode(const Json& value) {
    const ObjectReader r(value);
    return {r.required<double>("x"), r.required<double>("y"), r.required<double>("z")};
}

Json Coding<ImageRecord>::encode(const ImageRecord& i) {
    return ObjectWriter()
        .add("fileName", i.fileName)
        .add("capturedAt", i.capturedAt)
        .add("gravity", i.gravity)
        .add("hasDepth", i.hasDepth)
        .add("yawDegrees", i.yawDegrees)
        .add("pitchDegrees", i.pitchDegrees)
        .add("cameraTransform", i.cameraTransform)
        .add("intrinsics", i.intrinsics)
        .add("bytes", i.bytes)
        .take();
}

ImageRecord Coding<ImageRecord>::decode(const Json& value) {
    const ObjectReader r(value);
    ImageRecord i;
    i.fileName = r.required<std::string>("fileName");
    i.capturedAt = r.required<Date>("capturedAt");
    i.gravity = r.optional<Vector3>("gravity");
    i.hasDepth = r.required<bool>("hasDepth");
    i.yawDegrees = r.optional<double>("yawDegrees");
    i.pitchDegrees = r.optional<double>("pitchDegrees");
    i.cameraTransform = r.optional<std::vector<float>>("cameraTransform");
    i.intrinsics = r.optional<std::vector<float>>("intrinsics");
    i.bytes = r.optional<std::int64_t>("bytes");
    return i;
}

Json Coding<ObjectBounds>::encode(const ObjectBounds& b) {
    return ObjectWriter()
        .add("centre", b.centre)
        .add("radius", b.radius)
        .add("height", b.height)
        .take();
}

ObjectBounds Coding<ObjectBounds>::decode(const Json& value) {
    const ObjectReader r(value);
    return {r.required<std::vector<float>>("centre"), r.required<float>("radius"),
            r.required<float>("height")};
}

Json Coding<CaptureManifest>::encode(const CaptureManifest& m) {
    return ObjectWriter()
        .add("id", m.id)
        .add("name", m.name)
        .add("createdAt", m.createdAt)
        .add("deviceModel", m.deviceModel)
        .add("appVersion", m.appVersion)
        .add("images", m.images)
        .add("options", m.options)
        .add("captureMode", m.captureMode)
        .add("objectBounds", m.objectBounds)
        .take();
}

CaptureManifest Coding<CaptureManifest>::decode(const Json& value) {
    const ObjectReader r(value);
    CaptureManifest m;
    m.id = r.required<Uuid>("id");
    m.name = r.required<std::string>("name");
    m.createdAt = r.required<Date>("createdAt");
    m.deviceModel = r.required<std::string>("deviceModel");
    m.appVersion = r.required<std::string>("appVersion");
    m.images = r.required<std::vector<ImageRecord>>("images");
    m.options = r.required<ProcessingOptions>("options");
    m.captureMode = r.optional<CaptureMode>("captureMode");
    m.objectBounds = r.optional<ObjectBounds>("objectBounds");
    return m;
}

Json Coding<JobStatus>::encode(const JobStatus& s) {
    return ObjectWriter()
        .add("captureID", s.captureID)
        .add("phase", s.phase)
        .add("fraction", s.fraction)
        .add("stage", s.stage)
        .add("secondsRemaining", s.secondsRemaining)
        .add("message", s.message)
        .add("modelBytes", s.modelBytes)
        .take();
}

JobStatus Coding<JobStatus>::decode(const Json& value) {
    const ObjectReader r(value);
    JobStatus s;
    s.captureID = r.required<Uuid>("captureID");
    s.phase = r.required<JobPhase>("phase");
    s.fraction = r.required<double>("fraction");
    s.stage = r.optional<std::string>("stage");
    s.secondsRemaining = r.optional<double>("secondsRemaining");
    s.message = r.optional<std::string>("message");
    s.modelBytes = r.optional<std::int64_t>("modelBytes");
    return s;
}

}  // namespace pelorin::link
