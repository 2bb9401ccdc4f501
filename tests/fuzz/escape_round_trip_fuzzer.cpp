// Escaping must be undone exactly for every byte string, also when the escaped text
// travels inside a message line and is read back by ParseJson.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string escaped = EscapeJson(text);
    FUZZ_CHECK(UnescapeJson(escaped) == text);
    // An escaped value never breaks the line it is written on, and holds no control byte
    // that a JSON reader would refuse.
    for (char c : escaped) {
        FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
    }

    // A second field checks that the first one ends where it should; the key "n" would
    // be overwritten by it, so that one input is left out.
    if (text != "n") {
        const std::string line = JsonWriter().AddString(text, text).AddInt("n", -1).Finish();
        const JsonObject read = ParseJson(line);
        FUZZ_CHECK(read.fields.size() == 2 && read.Get(text) == text && read.Get("n") == "-1");
    }

    // Unescaping only ever shortens arbitrary text.
    FUZZ_CHECK(UnescapeJson(text).size() <= text.size());
    return 0;
}
