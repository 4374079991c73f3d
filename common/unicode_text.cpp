#include "common/unicode_text.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cctype>
#include <memory>

namespace pelorin::common {

namespace {

// ICU replaces malformed UTF-8 with U+FFFD on the way in; converting back and comparing
// tells whether the input was well formed.
std::optional<icu::UnicodeString> decodeStrict(std::string_view utf8) {
    auto text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    std::string back;
    text.toUTF8String(back);
    if (back != utf8) return std::nullopt;
    return text;
}

}  // namespace

std::optional<std::string> canonicalComposition(std::string_view utf8) {
    auto text = decodeStrict(utf8);
    if (!text) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return std::nullopt;
    icu::UnicodeString composed = nfc->normalize(*text, status);
    if (U_FAILURE(status)) return std::nullopt;
    std::string result;
    composed.toUTF8String(result);
    return result;
}

bool isValidUtf8(std::string_view text) {
    return decodeStrict(text).has_value();
}

std::string lowercased(std::string_view utf8) {
    auto text = decodeStrict(utf8);
    if (!text) {
        std::string result(utf8);
        for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return result;
    }
    text->toLower(icu::Locale::getRoot());
    std::string result;
    text->toUTF8String(result);
    return result;
}

std::size_t graphemeCount(std::string_view utf8) {
    auto text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return static_cast<std::size_t>(text.countChar32());
    breaks->setText(text);
    std::size_t count = 0;
    for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; end = breaks->next()) {
        ++count;
    }
    return count;
}

std::string trimmedWhiteSpace(std::string_view utf8) {
    auto text = decodeStrict(utf8);
    if (!text) {
        const char* space = " \t\n\r\v\f";
        const auto first = utf8.find_first_not_of(space);
        if (first == std::string_view::npos) return {};
        return std::string(utf8.substr(first, utf8.find_last_not_of(space) - first + 1));
    }
    int32_t begin = 0, end = text->length();
    while (begin < end && u_isUWhiteSpace(text->char32At(begin)))
        begin = text->moveIndex32(begin, 1);
    while (end > begin) {
        const int32_t previous = text->moveIndex32(end, -1);
        if (!u_isUWhiteSpace(text->char32At(previous))) break;
        end = previous;
    }
    std::string out;
    text->tempSubStringBetween(begin, end).toUTF8String(out);
    return out;
}

}  // namespace pelorin::common
