// libomt's discovery, for "list_sources": omt_discovery_getaddresses, an optional export.
// The library starts its discovery at the first call and the first answers are empty or
// partial, so the first listing polls until the list stops changing (at most about a
// second); later listings take the list as it stands.
//
// Threads: Find runs on the listing's finder thread, one call at a time. The export
// belongs to the receiver's loaded library, which outlives this finder.
#pragma once

#include <string>
#include <vector>

#include "omt_api.h"
#include "source_finder.h"

class OmtSourceFinder final : public SourceFinder {
public:
    // The library's discovery export, or null when it has none.
    explicit OmtSourceFinder(OmtDiscoveryGetAddressesFn discover) : discover_(discover) {}

    FoundSources Find() override;

private:
    std::vector<std::string> CopyAddresses();

    OmtDiscoveryGetAddressesFn discover_;
    bool warm_ = false;  // a listing has polled the discovery until it settled once
};
