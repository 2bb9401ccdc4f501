// ParseJson on any bytes: it must not crash, a line that does not open an object gives
// nothing, and whatever it reads survives being written and read again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const JsonObject parsed = ParseJson(text);

    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || text[first] != '{') {
        FUZZ_CHECK(parsed.fields.empty());
    }

    JsonWriter writer;
    for (const auto& field : parsed.fields) {
        writer.AddString(field.first, field.second);
    }
    const std::string line = writer.Finish();
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(ParseJson(line).fields == parsed.fields);
    return 0;
}
