#pragma once

#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "link/records/record_coding.h"

// A record's fields listed once, as a tuple of field(key, &Record::member) entries, which both
// the writer and the reader walk: a field cannot be written without being read, or the reverse.
namespace pelorin::link::coding {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {};

// A std::optional member may be missing or null, and is left out when empty; any other member
// must be present.
template <class Record, class Member>
struct Field {
    const char* key;
    Member Record::*member;

    void write(ObjectWriter& writer, const Record& record) const {
        writer.add(key, record.*member);
    }
    void read(const ObjectReader& reader, Record& record) const {
        if constexpr (IsOptional<Member>::value) {
            record.*member = reader.optional<typename Member::value_type>(key);
        } else {
            record.*member = reader.required<Member>(key);
        }
    }
};

// Always written; when missing or null the member keeps the value a new record has, so that
// writers of every version agree on it.
template <class Record, class Member>
struct DefaultedField {
    const char* key;
    Member Record::*member;

    void write(ObjectWriter& writer, const Record& record) const {
        writer.add(key, record.*member);
    }
    void read(const ObjectReader& reader, Record& record) const {
        if (auto value = reader.optional<Member>(key)) record.*member = std::move(*value);
    }
};

template <class Record, class Member>
constexpr Field<Record, Member> field(const char* key, Member Record::*member) {
    return {key, member};
}
template <class Record, class Member>
constexpr DefaultedField<Record, Member> defaulted(const char* key, Member Record::*member) {
    return {key, member};
}

template <class Record, class... Fields>
Json writeFields(const Record& record, const std::tuple<Fields...>& fields) {
    ObjectWriter writer;
    std::apply([&](const auto&... each) { (each.write(writer, record), ...); }, fields);
    return writer.take();
}

// Reads in table order, so the first bad field in that order is the one reported.
template <class Record, class... Fields>
Record readFields(const Json& value, const std::tuple<Fields...>& fields) {
    const ObjectReader reader(value);
    Record record{};
    std::apply([&](const auto&... each) { (each.read(reader, record), ...); }, fields);
    return record;
}

}  // namespace pelorin::link::coding

// Defines Coding<Type> by the table `fields(std::type_identity<Type>)` returns, which must be
// declared before; to be used inside namespace pelorin::link.
#define PELORIN_CODING_FROM_FIELDS(Type)                                            \
    Json Coding<Type>::encode(const Type& value) {                                  \
        return coding::writeFields(value, fields(std::type_identity<Type>{}));      \
    }                                                                               \
    Type Coding<Type>::decode(const Json& value) {                                  \
        return coding::readFields<Type>(value, fields(std::type_identity<Type>{})); \
    }
