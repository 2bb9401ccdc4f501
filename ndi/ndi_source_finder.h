// The NDI runtime's source finder, for "list_sources". The finder instance is made at the
// first listing and kept for the host's life, so that later listings find its background
// discovery warm: the first waits (at most about a second) until the list settles, later
// ones take the list as it stands. A finder that cannot be made is tried again at the
// next listing.
//
// Threads: Find runs on the listing's finder thread, one call at a time; construction and
// destruction on the main thread. The table belongs to the receiver's loaded runtime, which
// outlives this finder (the host destroys the finder first).
#pragma once

#include <string>
#include <vector>

#include "ndi_api.h"
#include "source_finder.h"

class NdiSourceFinder final : public SourceFinder {
public:
    // The runtime's table, or null when none is bound.
    explicit NdiSourceFinder(const ndi::ApiV5* table) : table_(table) {}
    ~NdiSourceFinder() override;
    NdiSourceFinder(const NdiSourceFinder&) = delete;
    NdiSourceFinder& operator=(const NdiSourceFinder&) = delete;

    FoundSources Find() override;

private:
    bool HasFinderMembers() const;
    // Waits until the list has stopped changing, within the first listing's bound.
    void WaitForFirstList();
    std::vector<std::string> CopyCurrentSources();

    const ndi::ApiV5* table_;
    ndi::FindInstance finder_ = nullptr;
    bool warm_ = false;  // a listing has waited for this finder's list once
};
