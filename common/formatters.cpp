#include "common/formatters.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace pelorin::common::Formatters {

std::optional<std::string> duration(std::optional<double> seconds) {
    if (!seconds || !std::isfinite(*seconds) || *seconds < 0) return std::nullopt;
    // Beyond what any job takes; keeps the conversion below defined.
    if (*seconds > 1e15) return std::nullopt;
    const auto s = static_cast<std::int64_t>(std::llround(*seconds));
    if (s >= 3600) return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
    if (s >= 60) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
    return std::to_string(s) + " s";
}

std::optional<std::string> bytes(std::optional<std::int64_t> count) {
    if (!count || *count < 0) return std::nullopt;
    if (*count == 1) return "1 byte";
    if (*count < 1000) return std::to_string(*count) + " bytes";
    static constexpr std::array<const char*, 5> units = {"KB", "MB", "GB", "TB", "PB"};
    double value = static_cast<double>(*count) / 1000.0;
    std::size_t unit = 0;
    // Step up before rounding would print "1000 KB" or "1000.0 MB".
    while (unit + 1 < units.size() && value >= (unit == 0 ? 999.5 : 999.95)) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%.0f %s", value, units[unit]);
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
        // "2 GB", not "2.0 GB", as file managers write it.
        std::string shown = text;
        if (const auto point = shown.find(".0 "); point != std::string::npos) shown.erase(point, 2);
        return shown;
    }
    return std::string(text);
}

std::string percent(double fraction) {
    if (!(fraction > 0)) fraction = 0;  // also NaN
    if (fraction > 1) fraction = 1;
    return std::to_string(static_cast<int>(std::lround(fraction * 100))) + "%";
}

}  // namespace pelorin::common::Formatters
