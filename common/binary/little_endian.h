#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace pelorin::common {

// Appending the little-endian fields of binary file formats. The build targets little-endian
// machines only, so arrays of numbers can be copied as they lie in memory.
static_assert(std::endian::native == std::endian::little);

inline void appendBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

template <class T>
void appendLittleEndian(std::vector<std::uint8_t>& out, T value) {
    appendBytes(out, &value, sizeof value);
}

inline void appendZeros(std::vector<std::uint8_t>& out, std::size_t count) {
    out.insert(out.end(), count, 0);
}

template <class T>
std::span<const std::uint8_t> asBytes(const std::vector<T>& values) {
    return {reinterpret_cast<const std::uint8_t*>(values.data()), values.size() * sizeof(T)};
}

// Reads a little-endian number at `at`; the caller has checked that it lies inside `bytes`.
template <class T>
T readLittleEndian(std::span<const std::uint8_t> bytes, std::size_t at) {
    assert(at <= bytes.size() && sizeof(T) <= bytes.size() - at);
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

}  // namespace pelorin::common
