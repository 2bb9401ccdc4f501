#include "ndi_source_finder.h"

#include <windows.h>

#include "log.h"

namespace {

// The first listing of a finder waits at most this long in all; once the list has changed,
// it waits for it to stay unchanged this long before taking it.
constexpr uint32_t kFirstListMs = 1000;
constexpr uint32_t kSettleMs = 300;

uint32_t ElapsedMs(ULONGLONG since) {
    return static_cast<uint32_t>(GetTickCount64() - since);
}

}  // namespace

NdiSourceFinder::~NdiSourceFinder() {
    if (finder_ != nullptr) {
        table_->findDestroy(finder_);
    }
}

bool NdiSourceFinder::HasFinderMembers() const {
    return table_ != nullptr && table_->findCreateV2 != nullptr && table_->findDestroy != nullptr &&
           table_->findWaitForSources != nullptr && table_->findGetCurrentSources != nullptr;
}

FoundSources NdiSourceFinder::Find() {
    if (!HasFinderMembers()) {
        return {{}, "Source listing not supported"};
    }
    if (finder_ == nullptr) {
        const ndi::FindCreate settings{true, nullptr, nullptr};
        finder_ = table_->findCreateV2(&settings);
        HostLog("[NDI] find_create_v2 -> %s", finder_ != nullptr ? "finder" : "null");
        if (finder_ == nullptr) {
            return {{}, "Cannot create source finder"};
        }
    }
    if (!warm_) {
        WaitForFirstList();
        warm_ = true;
    }
    return {CopyCurrentSources(), {}};
}

// Discovery runs in the background once the finder exists: right after its creation the
// list is empty or partial, and it grows as sources answer.
void NdiSourceFinder::WaitForFirstList() {
    const ULONGLONG start = GetTickCount64();
    bool changed = table_->findWaitForSources(finder_, kFirstListMs);
    for (uint32_t elapsed = ElapsedMs(start); changed && elapsed < kFirstListMs;
         elapsed = ElapsedMs(start)) {
        CopyCurrentSources();  // what has changed so far is taken, so the next wait sees news
        const uint32_t left = kFirstListMs - elapsed;
        changed = table_->findWaitForSources(finder_, left < kSettleMs ? left : kSettleMs);
    }
}

// The runtime's array is valid only until the next call on this finder: the names are
// copied out at once.
std::vector<std::string> NdiSourceFinder::CopyCurrentSources() {
    uint32_t count = 0;
    const ndi::Source* sources = table_->findGetCurrentSources(finder_, &count);
    std::vector<std::string> names;
    if (sources == nullptr) {
        return names;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (sources[i].ndiName != nullptr) {
            names.emplace_back(sources[i].ndiName);
        }
    }
    return names;
}
