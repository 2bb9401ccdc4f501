// The hosts' own small JSON codec: one flat object a line, every value kept as text.
// Win32-free; used by the pipe reader thread and by any thread that sends.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <unordered_map>

struct JsonObject {
    std::unordered_map<std::string, std::string> fields;

    // An absent key reads as the empty string.
    const std::string& Get(const std::string& key) const;
};

// Tolerant one-pass reader: never fails, returns what it could read.
JsonObject ParseJson(const std::string& text);

// Inside quotes: `"` `\` LF CR TAB as \" \\ \n \r \t, the other bytes below 0x20 as
// \u00XX, every other byte as it is. UnescapeJson reads those back; any other escape
// (\u0041, \/) stays as written.
std::string EscapeJson(const std::string& text);
std::string UnescapeJson(const std::string& text);

class JsonWriter {
public:
    JsonWriter();
    JsonWriter& AddString(const std::string& key, const std::string& value);
    JsonWriter& AddInt(const std::string& key, int32_t value);
    JsonWriter& AddInt64(const std::string& key, int64_t value);
    JsonWriter& AddFloat(const std::string& key, float value);
    std::string Finish();

private:
    void AddKey(const std::string& key);

    std::ostringstream text_;
    bool first_ = true;
};
