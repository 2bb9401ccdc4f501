#include "json.h"

#include <cstdio>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The byte of a `\u00XX` escape at text[i] (the backslash) when XX names a control byte
// (00 to 1F), which is all the writer produces; -1 for any other text.
int ControlEscapeAt(const std::string& text, size_t i) {
    if (i + 5 >= text.size() || text[i + 1] != 'u' || text[i + 2] != '0' || text[i + 3] != '0') {
        return -1;
    }
    const int high = HexValue(text[i + 4]);
    const int low = HexValue(text[i + 5]);
    return high < 0 || high > 1 || low < 0 ? -1 : high * 16 + low;
}

bool IsJsonSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void SkipSpace(const std::string& text, size_t& pos) {
    while (pos < text.size() && IsJsonSpace(text[pos])) {
        ++pos;
    }
}

// Collects a quoted string's raw bytes; pos is just after the opening quote. Escape
// pairs are kept whole so that an escaped quote does not end the string.
std::string ReadQuoted(const std::string& text, size_t& pos) {
    std::string raw;
    while (pos < text.size() && text[pos] != '"') {
        if (text[pos] == '\\' && pos + 1 < text.size()) {
            raw += text[pos];
            raw += text[pos + 1];
            pos += 2;
        } else {
            raw += text[pos++];
        }
    }
    if (pos < text.size()) {
        ++pos;  // closing quote
    }
    return UnescapeJson(raw);
}

std::string ReadBare(const std::string& text, size_t& pos) {
    size_t start = pos;
    while (pos < text.size()) {
        char c = text[pos];
        if (c == ',' || c == '}' || c == ' ' || c == '\t') {
            break;
        }
        ++pos;
    }
    return text.substr(start, pos - start);
}

}  // namespace

const std::string& JsonObject::Get(const std::string& key) const {
    static const std::string kEmpty;
    auto it = fields.find(key);
    return it == fields.end() ? kEmpty : it->second;
}

JsonObject ParseJson(const std::string& text) {
    JsonObject result;
    size_t pos = 0;
    SkipSpace(text, pos);
    if (pos >= text.size() || text[pos] != '{') {
        return result;
    }
    ++pos;
    for (;;) {
        SkipSpace(text, pos);
        if (pos >= text.size() || text[pos] == '}') {
            return result;
        }
        if (text[pos] == ',') {
            ++pos;
            continue;
        }
        if (text[pos] != '"') {
            return result;
        }
        ++pos;
        std::string key = ReadQuoted(text, pos);
        SkipSpace(text, pos);
        if (pos >= text.size() || text[pos] != ':') {
            return result;
        }
        ++pos;
        SkipSpace(text, pos);
        std::string value;
        if (pos < text.size()) {
            if (text[pos] == '"') {
                ++pos;
                value = ReadQuoted(text, pos);
            } else {
                value = ReadBare(text, pos);
            }
        }
        result.fields[key] = std::move(value);
    }
}

std::string EscapeJson(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    // Any other control byte would make the line invalid JSON.
                    out += "\\u00";
                    out += kHexDigits[(c >> 4) & 0x0F];
                    out += kHexDigits[c & 0x0F];
                } else {
                    out += c;
                }
                break;
        }
    }
    return out;
}

std::string UnescapeJson(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const int control = ControlEscapeAt(text, i);
        if (control >= 0) {
            out += static_cast<char>(control);
            i += 5;
            continue;
        }
        char next = text[i + 1];
        switch (next) {
            case '"':
                out += '"';
                ++i;
                break;
            case '\\':
                out += '\\';
                ++i;
                break;
            case 'n':
                out += '\n';
                ++i;
                break;
            case 'r':
                out += '\r';
                ++i;
                break;
            case 't':
                out += '\t';
                ++i;
                break;
            default:
                out += c;
                break;  // other escapes: the backslash stays, the next byte is ordinary
        }
    }
    return out;
}

JsonWriter::JsonWriter() {
    text_ << '{';
}

void JsonWriter::AddKey(const std::string& key) {
    if (!first_) {
        text_ << ',';
    }
    first_ = false;
    text_ << '"' << EscapeJson(key) << "\":";
}

JsonWriter& JsonWriter::AddString(const std::string& key, const std::string& value) {
    AddKey(key);
    text_ << '"' << EscapeJson(value) << '"';
    return *this;
}

JsonWriter& JsonWriter::AddInt(const std::string& key, int32_t value) {
    AddKey(key);
    text_ << value;
    return *this;
}

JsonWriter& JsonWriter::AddInt64(const std::string& key, int64_t value) {
    AddKey(key);
    text_ << value;
    return *this;
}

JsonWriter& JsonWriter::AddFloat(const std::string& key, float value) {
    AddKey(key);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(value));
    text_ << buffer;
    return *this;
}

std::string JsonWriter::Finish() {
    text_ << '}';
    return text_.str();
}
