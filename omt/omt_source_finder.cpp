#include "omt_source_finder.h"

#include <windows.h>

namespace {

// The first listing polls at this pace for at most kFirstListMs in all, and takes the
// list once it has been the same, and not empty, for kSettleMs.
constexpr DWORD kPollMs = 100;
constexpr ULONGLONG kFirstListMs = 1000;
constexpr ULONGLONG kSettleMs = 300;

}  // namespace

FoundSources OmtSourceFinder::Find() {
    if (discover_ == nullptr) {
        return {{}, "Source listing not supported"};
    }
    std::vector<std::string> addresses = CopyAddresses();
    if (warm_) {
        return {addresses, {}};
    }
    const ULONGLONG start = GetTickCount64();
    ULONGLONG lastChange = start;
    for (ULONGLONG now = start; now - start < kFirstListMs; now = GetTickCount64()) {
        if (!addresses.empty() && now - lastChange >= kSettleMs) {
            break;
        }
        Sleep(kPollMs);
        std::vector<std::string> latest = CopyAddresses();
        if (latest != addresses) {
            addresses = std::move(latest);
            lastChange = GetTickCount64();
        }
    }
    warm_ = true;
    return {addresses, {}};
}

// The library's array is valid only until its next call: the addresses are copied at once.
std::vector<std::string> OmtSourceFinder::CopyAddresses() {
    int count = 0;
    char** addresses = discover_(&count);
    std::vector<std::string> copied;
    if (addresses == nullptr) {
        return copied;
    }
    for (int i = 0; i < count; ++i) {
        if (addresses[i] != nullptr) {
            copied.emplace_back(addresses[i]);
        }
    }
    return copied;
}
