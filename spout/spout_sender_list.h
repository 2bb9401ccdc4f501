// Grelm's answer to "list_sources": the senders entered in the Spout sender list mapping,
// read through a read-only view (at most kMaxListBytes of it) under the list's mutex where
// there is one, taken with a bounded wait. A sender whose own record mapping cannot be
// opened has gone without taking its name out, and is left out. No library is involved.
//
// Threads: Find runs on the listing's finder thread; tests call it directly.
#pragma once

#include <string>

#include "sender_names.h"
#include "source_finder.h"

class SpoutSenderList final : public SourceFinder {
public:
    // 4096 slots: far more than the 64 a list has unless configured otherwise.
    static constexpr size_t kMaxListBytes = 4096 * kSenderNameBytes;

    // Tests read a list of their own name; its mutex is the name plus "_mutex".
    explicit SpoutSenderList(std::string listName = kSenderListName)
        : listName_(std::move(listName)) {}

    FoundSources Find() override;

private:
    std::string listName_;
};
