#include "quality.h"

namespace {

bool IsLowWord(const std::string& t) {
    return t == "Low" || t == "low";
}
bool IsMediumWord(const std::string& t) {
    return t == "Medium" || t == "medium";
}
bool IsHighWord(const std::string& t) {
    return t == "High" || t == "high";
}

int TivaneBandwidth(const std::string& t) {
    return IsLowWord(t) || t == "0" ? 0 : 100;
}

// Parlex words: nullopt when the text is no word of its own.
std::optional<int> ParlexWord(const std::string& t) {
    if (IsLowWord(t))
        return 1;
    if (IsMediumWord(t))
        return 50;
    if (IsHighWord(t))
        return 100;
    return std::nullopt;
}

}  // namespace

int LaunchQuality(HostKind kind, const std::string& text) {
    switch (kind) {
        case HostKind::Tivane:
            return TivaneBandwidth(text);
        case HostKind::Parlex: {
            if (IsLowWord(text))
                return 1;
            if (IsMediumWord(text))
                return 50;
            return 100;
        }
        case HostKind::Grelm:
            break;
    }
    return 100;
}

int SetSourceQuality(HostKind kind, const std::string& text, int& remembered) {
    switch (kind) {
        case HostKind::Tivane:
            if (!text.empty()) {
                remembered = TivaneBandwidth(text);
            }
            return remembered;
        case HostKind::Parlex:
            return ParlexWord(text).value_or(remembered);
        case HostKind::Grelm:
            break;
    }
    return remembered;
}

int SetQualityValue(HostKind kind, const std::string& text, int& remembered) {
    switch (kind) {
        case HostKind::Tivane:
            remembered = TivaneBandwidth(text);
            return remembered;
        case HostKind::Parlex:
            return ParlexWord(text).value_or(100);
        case HostKind::Grelm:
            break;
    }
    return 100;
}

int MapOmtQuality(int quality) {
    if (quality <= 1)
        return 1;
    if (quality <= 50)
        return 50;
    return 100;
}
