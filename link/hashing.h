#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace pelorin {

// Folds the hashes of a record's fields into one, in field order.
class Hasher {
  public:
    template <class T>
    Hasher& add(const T& value) {
        mix(std::hash<T>()(value));
        return *this;
    }
    template <class T>
    Hasher& add(const std::optional<T>& value) {
        mix(value.has_value() ? 1 : 0);
        if (value) add(*value);
        return *this;
    }
    template <class T>
    Hasher& add(const std::vector<T>& values) {
        mix(values.size());
        for (const auto& value : values) add(value);
        return *this;
    }
    std::size_t value() const { return state_; }

  private:
    void mix(std::size_t h) { state_ ^= h + 0x9e3779b97f4a7c15ULL + (state_ << 6) + (state_ >> 2); }
    std::size_t state_ = 0;
};

}  // namespace pelorin
