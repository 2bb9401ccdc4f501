#include "source_gatherer.h"

#include <charconv>
#include <utility>

#include "json.h"

SourceGatherer::SourceGatherer(size_t maxListingBytes) : maxListingBytes_(maxListingBytes) {}

SourceGatherer::Taken SourceGatherer::Take(const std::string& line, HostEvent& listing) {
    return Take(line, ParseJson(line), listing);
}

SourceGatherer::Taken SourceGatherer::Take(const std::string& line, const JsonObject& message,
                                           HostEvent& listing) {
    const std::string& type = message.Get("type");
    if (type == "source") {
        const std::string& name = message.Get("name");
        ++received_;
        // No C string can carry such a name, and set_source refuses it.
        if (name.find('\0') != std::string::npos) {
            return Taken::Kept;
        }
        if (keptBytes_ + name.size() + kNameBytes <= maxListingBytes_) {
            keptBytes_ += name.size() + kNameBytes;
            names_.push_back(name);
        }
        return Taken::Kept;
    }
    if (type != "sources_done") {
        return Taken::NotListing;
    }
    const std::string& count = message.Get("count");
    size_t counted = 0;
    bool numeric =
        std::from_chars(count.data(), count.data() + count.size(), counted).ec == std::errc();
    listing = HostEvent();
    listing.type = HostEventType::Sources;
    listing.line = line;
    listing.error = message.Get("error");
    if (listing.error.empty() && names_.size() < received_) {
        listing.error = "the listing held more than " + std::to_string(maxListingBytes_) +
                        " bytes of names: the first " + std::to_string(names_.size()) + " of " +
                        std::to_string(received_) + " are given";
    } else if (listing.error.empty() && (!numeric || counted != received_)) {
        listing.error = "incomplete listing: the host counted " + count + " sources, " +
                        std::to_string(received_) + " arrived";
    }
    listing.names = std::move(names_);
    Clear();
    return Taken::Closed;
}

void SourceGatherer::Clear() {
    names_.clear();
    keptBytes_ = 0;
    received_ = 0;
}
