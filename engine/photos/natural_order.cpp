#include "engine/photos/natural_order.h"

#include <cctype>

namespace pelorin::engine {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char fold(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            // Compare digit runs by value without converting: skip leading zeros, then the
            // longer run is larger, then the first differing digit decides.
            std::size_t ai = i;
            std::size_t bj = j;
            while (ai < a.size() && a[ai] == '0') ++ai;
            while (bj < b.size() && b[bj] == '0') ++bj;
            std::size_t aEnd = ai;
            std::size_t bEnd = bj;
            while (aEnd < a.size() && isDigit(a[aEnd])) ++aEnd;
            while (bEnd < b.size() && isDigit(b[bEnd])) ++bEnd;
            const std::size_t aLength = aEnd - ai;
            const std::size_t bLength = bEnd - bj;
            if (aLength != bLength) return aLength < bLength;
            for (std::size_t k = 0; k < aLength; ++k) {
                if (a[ai + k] != b[bj + k]) return a[ai + k] < b[bj + k];
            }
            i = aEnd;
            j = bEnd;
            continue;
        }
        const char x = fold(a[i]);
        const char y = fold(b[j]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

}  // namespace pelorin::engine
