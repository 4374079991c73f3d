#include "link/discovery/pairing_link.h"

#include <charconv>
#include <vector>

#include "common/unicode_text.h"

namespace pelorin::link {

namespace {

constexpr std::string_view linkScheme = "pelorin3d";
constexpr std::string_view linkHost = "pair";

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Characters that may stand in a URL as they are (RFC 3986 reserved and unreserved, and "%").
bool isUrlCharacter(unsigned char c) {
    if (isUnreserved(c)) return true;
    return std::string_view(":/?#[]@!$&'()*+,;=%").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

std::string percentEncode(std::string_view text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (isUnreserved(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 0x0F]);
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Nothing when an escape is malformed or the result is not UTF-8 text.
std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        const int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high << 4 | low));
        i += 2;
    }
    if (!common::isValidUtf8(out)) return std::nullopt;
    return out;
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string trimmed(std::string_view text) {
    // White space and line breaks, ASCII and the common Unicode ones (NBSP, line/paragraph
    // separators, ideographic space).
    static constexpr std::string_view spaces[] = {
        " ",        "\t",           "\n",           "\r",           "\v",      "\f",
        "\xC2\xA0", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE3\x80\x80", "\xC2\x85"};
    bool changed = true;
    while (changed) {
        changed = false;
        for (auto space : spaces) {
            if (text.starts_with(space)) {
                text.remove_prefix(space.size());
                changed = true;
            }
            if (text.ends_with(space)) {
                text.remove_suffix(space.size());
                changed = true;
            }
        }
    }
    return std::string(text);
}

struct QueryItem {
    std::string name;
    std::optional<std::string> value;
};

struct ParsedUrl {
    std::string scheme;
    std::optional<std::string> host;
    std::optional<std::vector<QueryItem>> query;
};

std::optional<ParsedUrl> parseUrl(std::string_view text) {
    for (unsigned char c : text) {
        if (!isUrlCharacter(c)) return std::nullopt;
    }
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    ParsedUrl url;
    url.scheme = std::string(text.substr(0, colon));
    for (std::size_t i = 0; i < url.scheme.size(); ++i) {
        const char c = url.scheme[i];
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other)) return std::nullopt;
    }
    std::string_view rest = text.substr(colon + 1);
    if (const auto hash = rest.find('#'); hash != std::string_view::npos)
        rest = rest.substr(0, hash);
    std::string_view query;
    bool hasQuery = false;
    if (const auto question = rest.find('?'); question != std::string_view::npos) {
        query = rest.substr(question + 1);
        hasQuery = true;
        rest = rest.substr(0, question);
    }
    if (rest.starts_with("//")) {
        std::string_view authority = rest.substr(2, rest.find('/', 2) - 2);
        if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
            authority = authority.substr(at + 1);
        }
        if (const auto portColon = authority.rfind(':'); portColon != std::string_view::npos) {
            authority = authority.substr(0, portColon);
        }
        auto decoded = percentDecode(authority);
        if (!decoded) return std::nullopt;
        if (!decoded->empty()) url.host = std::move(*decoded);
    }
    if (hasQuery && !query.empty()) {
        std::vector<QueryItem> items;
        std::size_t start = 0;
        while (start <= query.size()) {
            const auto end = std::min(query.find('&', start), query.size());
            const std::string_view item = query.substr(start, end - start);
            const auto equals = item.find('=');
            auto name = percentDecode(item.substr(0, equals));
            if (!name) return std::nullopt;
            QueryItem parsed{std::move(*name), std::nullopt};
            if (equals != std::string_view::npos) {
                auto value = percentDecode(item.substr(equals + 1));
                if (!value) return std::nullopt;
                parsed.value = std::move(*value);
            }
            items.push_back(std::move(parsed));
            start = end + 1;
        }
        url.query = std::move(items);
    }
    return url;
}

std::optional<std::uint16_t> readPort(const std::string& text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size() || value > 65535) {
        return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

bool isFingerprint(const std::string& text) {
    if (text.size() != 22) return false;
    for (unsigned char c : text) {
        if (!(isUnreserved(c) && c != '.' && c != '~')) return false;
    }
    return true;
}

}  // namespace

std::string PairingLink::url() const {
    std::string text = std::string(linkScheme) + "://" + std::string(linkHost) + "?v=1";
    text += "&name=" + percentEncode(studioName);
    text += "&code=" + percentEncode(code);
    if (this->host) text += "&host=" + percentEncode(*this->host);
    if (port) text += "&port=" + std::to_string(*port);
    if (fingerprint) text += "&fp=" + percentEncode(*fingerprint);
    return text;
}

std::optional<PairingLink> PairingLink::parse(std::string_view text) {
    const auto url = parseUrl(text);
    if (!url || lowerAscii(url->scheme) != linkScheme) return std::nullopt;
    if (!url->host || lowerAscii(*url->host) != linkHost) return std::nullopt;
    if (!url->query || url->query->empty()) return std::nullopt;

    auto first = [&](std::string_view name) -> const QueryItem* {
        for (const auto& item : *url->query) {
            if (item.name == name) return &item;
        }
        return nullptr;
    };

    PairingLink link;
    const QueryItem* name = first("name");
    if (!name || !name->value) return std::nullopt;
    link.studioName = trimmed(*name->value);
    if (link.studioName.empty() || common::graphemeCount(link.studioName) > maxNameLength)
        return std::nullopt;

    const QueryItem* code = first("code");
    if (!code || !code->value || code->value->size() != 6) return std::nullopt;
    for (char c : *code->value) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    link.code = *code->value;

    if (const QueryItem* item = first("host");
        item && item->value && !item->value->empty() && common::graphemeCount(*item->value) < 254) {
        link.host = *item->value;
    }
    if (const QueryItem* item = first("port"); item && item->value && !item->value->empty()) {
        if (auto port = readPort(*item->value); port && *port != 0) link.port = port;
    }
    if (const QueryItem* item = first("fp"); item && item->value && isFingerprint(*item->value)) {
        link.fingerprint = *item->value;
    }
    return link;
}

}  // namespace pelorin::link
