// The Spout sender list read from any bytes another process may have left in it: every
// name is a slot's text (1 to 256 bytes, no NUL), no more names than slots, and a sender
// that enters or leaves such a list finds itself there (once, unless it already was), or
// not, afterwards.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "sender_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> names = ParseSenderNames(data, size);
    FUZZ_CHECK(names.size() <= (size + kSenderNameBytes - 1) / kSenderNameBytes);
    for (const std::string& name : names) {
        FUZZ_CHECK(!name.empty() && name.size() <= kSenderNameBytes);
        FUZZ_CHECK(name.find('\0') == std::string::npos);
    }

    // A sender enters once; a list that another writer left with repeats keeps them.
    std::vector<unsigned char> list(data, data + size);
    const std::string sender = "fuzz sender";
    const auto before = std::count(names.begin(), names.end(), sender);
    if (AddSenderName(list.data(), list.size(), sender)) {
        const std::vector<std::string> after = ParseSenderNames(list.data(), list.size());
        FUZZ_CHECK(std::count(after.begin(), after.end(), sender) == (before > 0 ? before : 1));
    }
    RemoveSenderName(list.data(), list.size(), sender);
    const std::vector<std::string> left = ParseSenderNames(list.data(), list.size());
    FUZZ_CHECK(std::count(left.begin(), left.end(), sender) == 0);
    return 0;
}
