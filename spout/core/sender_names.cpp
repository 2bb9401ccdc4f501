#include "sender_names.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace {

// Rewrites the list with `names` in their order, then an empty slot where there is room
// for one. False (nothing written) when they do not fit.
bool WriteSenderNames(unsigned char* bytes, size_t size, const std::vector<std::string>& names) {
    if (names.size() > size / kSenderNameBytes) {
        return false;
    }
    unsigned char* slot = bytes;
    for (const std::string& name : names) {
        std::memset(slot, 0, kSenderNameBytes);
        std::memcpy(slot, name.data(), std::min(name.size(), kSenderNameBytes));
        slot += kSenderNameBytes;
    }
    const size_t used = names.size() * kSenderNameBytes;
    std::memset(slot, 0, std::min(kSenderNameBytes, size - used));
    return true;
}

}  // namespace

std::vector<std::string> ParseSenderNames(const unsigned char* bytes, size_t size) {
    std::vector<std::string> names;
    for (size_t at = 0; at < size; at += kSenderNameBytes) {
        const size_t slotBytes = std::min(kSenderNameBytes, size - at);
        const auto* slot = reinterpret_cast<const char*>(bytes + at);
        const auto* end = static_cast<const char*>(std::memchr(slot, '\0', slotBytes));
        const size_t length = end != nullptr ? static_cast<size_t>(end - slot) : slotBytes;
        if (length == 0) {
            break;
        }
        names.emplace_back(slot, length);
    }
    return names;
}

bool AddSenderName(unsigned char* bytes, size_t size, const std::string& name) {
    if (name.empty() || name.size() >= kSenderNameBytes || name.find('\0') != std::string::npos) {
        return false;
    }
    std::vector<std::string> names = ParseSenderNames(bytes, size);
    if (std::find(names.begin(), names.end(), name) != names.end()) {
        return true;
    }
    std::set<std::string> sorted(names.begin(), names.end());
    sorted.insert(name);
    return WriteSenderNames(bytes, size, std::vector<std::string>(sorted.begin(), sorted.end()));
}

void RemoveSenderName(unsigned char* bytes, size_t size, const std::string& name) {
    std::vector<std::string> names = ParseSenderNames(bytes, size);
    const auto kept = std::remove(names.begin(), names.end(), name);
    if (kept != names.end()) {
        names.erase(kept, names.end());
        WriteSenderNames(bytes, size, names);
    }
}
