#include "platform/version/PackageMetadata.h"

#include <optional>
#include <vector>

namespace platform {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A forward-only reader of one JSON text. Malformed input makes a step fail;
// nesting is tracked with a counter, so depth costs no stack.
class JsonScanner {
public:
    explicit JsonScanner(std::string_view text) : m_text(text) {}

    void skipSpace() {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' ||
                                        m_text[m_at] == '\n' || m_text[m_at] == '\r')) {
            ++m_at;
        }
    }
    bool take(char c) {
        skipSpace();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool atEnd() {
        skipSpace();
        return m_at == m_text.size();
    }

    // A string; escapes of characters beyond ASCII come out as '?', which is
    // all a version number needs.
    std::optional<std::string> string() {
        if (!take('"')) {
            return std::nullopt;
        }
        std::string value;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') {
                return value;
            }
            if (c != '\\') {
                value += c;
                continue;
            }
            const auto escaped = escape();
            if (!escaped) {
                return std::nullopt;
            }
            value += *escaped;
        }
        return std::nullopt;
    }

    // Any value, passed over.
    bool skipValue() {
        skipSpace();
        if (m_at >= m_text.size()) {
            return false;
        }
        const char first = m_text[m_at];
        if (first == '"') {
            return string().has_value();
        }
        if (first != '{' && first != '[') {
            return skipScalar();
        }
        size_t depth = 0;
        do {
            skipSpace();
            if (m_at >= m_text.size()) {
                return false;
            }
            const char c = m_text[m_at];
            if (c == '"') {
                if (!string()) {
                    return false;
                }
            } else if (c == '{' || c == '[') {
                ++depth, ++m_at;
            } else if (c == '}' || c == ']') {
                --depth, ++m_at;
            } else if (c == ',' || c == ':') {
                ++m_at;
            } else if (!skipScalar()) {
                return false;
            }
        } while (depth > 0);
        return true;
    }

private:
    std::optional<char> escape() {
        if (m_at >= m_text.size()) {
            return std::nullopt;
        }
        const char kind = m_text[m_at++];
        switch (kind) {
        case '"':
        case '\\':
        case '/':
            return kind;
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case 'u':
            return unicodeEscape();
        default:
            return std::nullopt;
        }
    }

    std::optional<char> unicodeEscape() {
        if (m_text.size() - m_at < 4) {
            return std::nullopt;
        }
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = m_text[m_at++];
            unsigned digit = 0;
            if (isDigit(h)) {
                digit = static_cast<unsigned>(h - '0');
            } else if (h >= 'a' && h <= 'f') {
                digit = static_cast<unsigned>(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
                digit = static_cast<unsigned>(h - 'A' + 10);
            } else {
                return std::nullopt;
            }
            code = code * 16 + digit;
        }
        return code < 0x80 ? static_cast<char>(code) : '?';
    }

    // A number or a literal: the run of characters up to a delimiter.
    bool skipScalar() {
        const size_t start = m_at;
        while (m_at < m_text.size() && m_text[m_at] != ',' && m_text[m_at] != '}' &&
               m_text[m_at] != ']' && m_text[m_at] != ':' && m_text[m_at] != '"' &&
               m_text[m_at] != ' ' && m_text[m_at] != '\t' && m_text[m_at] != '\n' &&
               m_text[m_at] != '\r' && m_text[m_at] != '{' && m_text[m_at] != '[') {
            ++m_at;
        }
        return m_at > start;
    }

    std::string_view m_text;
    size_t m_at = 0;
};

// The top-level "version" member when it is a string; the last one wins,
// as with most JSON readers.
std::optional<std::string> versionMember(std::string_view json) {
    JsonScanner scanner(json);
    if (!scanner.take('{')) {
        return std::nullopt;
    }
    std::optional<std::string> version;
    if (scanner.take('}')) {
        return std::nullopt;
    }
    do {
        const auto key = scanner.string();
        if (!key || !scanner.take(':')) {
            return std::nullopt;
        }
        if (*key == "version") {
            version = scanner.string();
            if (!version) {
                return std::nullopt;
            }
        } else if (!scanner.skipValue()) {
            return std::nullopt;
        }
    } while (scanner.take(','));
    if (!scanner.take('}') || !scanner.atEnd()) {
        return std::nullopt;
    }
    return version;
}

// "1.2.5-rc1" gives "1.2.5.0"; a text that does not begin with a digit gives
// the empty text.
std::string fourPartVersion(std::string_view text) {
    constexpr size_t partCount = 4;
    std::vector<std::string_view> parts;
    size_t at = 0;
    while (parts.size() < partCount && at < text.size() && isDigit(text[at])) {
        const size_t start = at;
        while (at < text.size() && isDigit(text[at])) {
            ++at;
        }
        parts.push_back(text.substr(start, at - start));
        // A dot continues the version only when a number follows it.
        if (at + 1 < text.size() && text[at] == '.' && isDigit(text[at + 1])) {
            ++at;
        } else {
            break;
        }
    }
    if (parts.empty()) {
        return {};
    }
    std::string version;
    for (size_t i = 0; i < partCount; ++i) {
        version += i == 0 ? "" : ".";
        version += i < parts.size() ? std::string(parts[i]) : std::string("0");
    }
    return version;
}

} // namespace

std::string packageMetadataVersion(std::string_view json) {
    const auto version = versionMember(json);
    return version ? fourPartVersion(*version) : std::string{};
}

} // namespace platform
