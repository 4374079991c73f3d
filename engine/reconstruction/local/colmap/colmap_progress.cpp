#include "engine/reconstruction/local/colmap/colmap_progress.h"

#include <algorithm>
#include <charconv>

namespace pelorin::engine::local {

namespace {

// Reads an unsigned number at the front of `text` and drops it from there.
std::optional<long> takeNumber(std::string_view& text) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || value < 0) return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return value;
}

bool take(std::string_view& text, std::string_view expected) {
    if (!text.starts_with(expected)) return false;
    text.remove_prefix(expected.size());
    return true;
}

std::optional<double> ratio(std::optional<long> done, std::optional<long> total) {
    if (!done || !total || *total <= 0) return std::nullopt;
    return std::clamp(static_cast<double>(*done) / static_cast<double>(*total), 0.0, 1.0);
}

}  // namespace

std::optional<double> colmapLineFraction(std::string_view line, int imageCount) {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (take(line, "Processed file [") || take(line, "Matching image [")) {
        const auto done = takeNumber(line);
        if (!take(line, "/")) return std::nullopt;
        const auto total = takeNumber(line);
        if (!take(line, "]")) return std::nullopt;
        return ratio(done, total);
    }
    if (take(line, "Matching block [")) {
        const auto row = takeNumber(line);
        if (!take(line, "/")) return std::nullopt;
        const auto rows = takeNumber(line);
        // A list of pairs is matched in blocks of one level; each line follows its block.
        if (take(line, "]")) return ratio(row, rows);
        if (!take(line, ", ")) return std::nullopt;
        const auto column = takeNumber(line);
        if (!take(line, "/")) return std::nullopt;
        const auto columns = takeNumber(line);
        if (!take(line, "]") || !row || !rows || !column || !columns || *row < 1)
            return std::nullopt;
        return ratio((*row - 1) * *columns + *column, *rows * *columns);
    }
    if (take(line, "Registering image #")) {
        if (!takeNumber(line) || !take(line, " (")) return std::nullopt;
        const auto registered = takeNumber(line);
        if (!take(line, ")")) return std::nullopt;
        return ratio(registered, imageCount);
    }
    return std::nullopt;
}

}  // namespace pelorin::engine::local
