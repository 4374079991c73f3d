#pragma once

#include <chrono>
#include <compare>
#include <functional>

namespace pelorin {

// A point in time as seconds (with fraction) since 2001-01-01 00:00:00 UTC, the form that
// every record writes.
struct Date {
    static constexpr double unixOffset = 978307200.0;

    double secondsSinceReferenceDate = 0;

    static Date now() {
        const auto since = std::chrono::system_clock::now().time_since_epoch();
        return {std::chrono::duration<double>(since).count() - unixOffset};
    }
    static Date distantPast() { return {-63114076800.0}; }

    double secondsSince(Date other) const {
        return secondsSinceReferenceDate - other.secondsSinceReferenceDate;
    }

    auto operator<=>(const Date&) const = default;
};

}  // namespace pelorin
