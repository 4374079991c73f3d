#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/date.h"
#include "common/expected.h"
#include "common/uuid.h"
#include "link/records/capture_records.h"

namespace pelorin::link {

// Why a record could not be read.
struct [[nodiscard]] DecodingError {
    std::string message;
    bool operator==(const DecodingError&) const = default;
};

using Json = nlohmann::json;

// Building blocks shared by every reader and writer of records in the program. Readers signal
// a bad record by throwing DecodingFailure; RecordDecoder turns that into a DecodingError, so
// nothing escapes the libraries.
namespace coding {

struct DecodingFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& message);

// Parses JSON text, refusing malformed text and nesting deeper than any record needs.
Json parse(std::string_view text);

// The canonical form: keys sorted (the object type keeps them so), no added white space.
std::string dump(const Json& value);

// The one key of an object that encodes an enumeration case with associated values.
std::pair<std::string, const Json*> singleKey(const Json& value);

}  // namespace coding

// How one type is written to and read from JSON. Specialised for every record type.
template <class T>
struct Coding;

template <>
struct Coding<bool> {
    static Json encode(bool value) { return value; }
    static bool decode(const Json& value);
};
template <>
struct Coding<std::int64_t> {
    static Json encode(std::int64_t value) { return value; }
    static std::int64_t decode(const Json& value);
};
template <>
struct Coding<int> {
    static Json encode(int value) { return value; }
    static int decode(const Json& value);
};
template <>
struct Coding<double> {
    static Json encode(double value) { return value; }
    static double decode(const Json& value);
};
template <>
struct Coding<float> {
    // Written with the shortest text that reads back as the same float ("0.1", not
    // "0.10000000149011612").
    static Json encode(float value);
    static float decode(const Json& value);
};
template <>
struct Coding<std::string> {
    static Json encode(const std::string& value) { return value; }
    static std::string decode(const Json& value);
};
template <>
struct Coding<Uuid> {
    static Json encode(const Uuid& value) { return value.string(); }
    static Uuid decode(const Json& value);
};
template <>
struct Coding<Date> {
    static Json encode(Date value) { return value.secondsSinceReferenceDate; }
    static Date decode(const Json& value);
};
template <class T>
struct Coding<std::vector<T>> {
    static Json encode(const std::vector<T>& values) {
        Json array = Json::array();
        for (const auto& value : values) array.push_back(Coding<T>::encode(value));
        return array;
    }
    static std::vector<T> decode(const Json& value) {
        if (!value.is_array()) coding::fail("expected an array");
        std::vector<T> result;
        result.reserve(value.size());
        for (const auto& element : value) result.push_back(Coding<T>::decode(element));
        return result;
    }
};

#define PELORIN_DECLARE_CODING(Type)           \
    template <>                                \
    struct Coding<Type> {                      \
        static Json encode(const Type& value); \
        static Type decode(const Json& value); \
    };
PELORIN_DECLARE_CODING(ProcessingDetail)
PELORIN_DECLARE_CODING(CaptureMode)
PELORIN_DECLARE_CODING(JobPhase)
PELORIN_DECLARE_CODING(ProcessingOptions)
PELORIN_DECLARE_CODING(Vector3)
PELORIN_DECLARE_CODING(ImageRecord)
PELORIN_DECLARE_CODING(ObjectBounds)
PELORIN_DECLARE_CODING(CaptureManifest)
PELORIN_DECLARE_CODING(JobStatus)

namespace coding {

// Reads the fields of one JSON object; a missing required key or a wrong type fails the record,
// unknown keys are ignored and null counts as absent.
class ObjectReader {
  public:
    explicit ObjectReader(const Json& value);

    template <class T>
    T required(const char* key) const {
        const Json* value = find(key);
        if (!value) fail(std::string("missing key \"") + key + "\"");
        return decodeField<T>(key, *value);
    }

    template <class T>
    std::optional<T> optional(const char* key) const {
        const Json* value = find(key);
        if (!value) return std::nullopt;
        return decodeField<T>(key, *value);
    }

  private:
    const Json* find(const char* key) const;

    template <class T>
    static T decodeField(const char* key, const Json& value) {
        try {
            return Coding<T>::decode(value);
        } catch (const DecodingFailure& failure) {
            fail(std::string("\"") + key + "\": " + failure.what());
        }
    }

    const Json& object_;
};

// Writes the fields of one JSON object; an absent optional is left out, never written as null.
class ObjectWriter {
  public:
    template <class T>
    ObjectWriter& add(const char* key, const T& value) {
        object_[key] = Coding<T>::encode(value);
        return *this;
    }
    template <class T>
    ObjectWriter& add(const char* key, const std::optional<T>& value) {
        if (value) object_[key] = Coding<T>::encode(*value);
        return *this;
    }
    Json take() { return std::move(object_); }

  private:
    Json object_ = Json::object();
};

}  // namespace coding

// The one writer of records: sorted keys, compact, dates as numbers, UUIDs upper-case.
class RecordEncoder {
  public:
    template <class T>
    std::string encode(const T& value) const {
        return coding::dump(Coding<T>::encode(value));
    }
};

// The one reader of records. Never throws: any failure comes back as a DecodingError.
class RecordDecoder {
  public:
    template <class T>
    Expected<T, DecodingError> decode(std::string_view text) const {
        return guarded<T>([&] { return Coding<T>::decode(coding::parse(text)); });
    }
    template <class T>
    Expected<T, DecodingError> decodeJson(const Json& value) const {
        return guarded<T>([&] { return Coding<T>::decode(value); });
    }

  private:
    template <class T, class F>
    static Expected<T, DecodingError> guarded(F&& body) {
        try {
            return body();
        } catch (const std::exception& failure) {
            return unexpected(
                DecodingError{std::string("The data could not be read: ") + failure.what()});
        }
    }
};

inline RecordEncoder makeRecordEncoder() {
    return {};
}
inline RecordDecoder makeRecordDecoder() {
    return {};
}

}  // namespace pelorin::link
