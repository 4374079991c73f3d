#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pelorin::common {

// The canonical composition (NFC) of UTF-8 text, so that precomposed and decomposed spellings
// compare equal. Nothing when the text is not valid UTF-8.
std::optional<std::string> canonicalComposition(std::string_view utf8);

// Unicode lower-casing of UTF-8 text (locale-independent); invalid UTF-8 is lower-cased
// byte-wise in the ASCII range only.
std::string lowercased(std::string_view utf8);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view text);

// The text without the white space and line breaks (the Unicode White_Space property: also
// no-break spaces) at its ends. Invalid UTF-8 loses only ASCII white space.
std::string trimmedWhiteSpace(std::string_view utf8);

// The number of user-perceived characters (extended grapheme clusters) in UTF-8 text.
std::size_t graphemeCount(std::string_view utf8);

}  // namespace pelorin::common
