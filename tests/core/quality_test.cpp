// The quality words of the two commands that carry one, and what each host remembers.
#include <gtest/gtest.h>

#include <string>

#include "quality.h"

namespace {

// Value given to the receiver and the remembered quality afterwards, starting from
// a remembered quality of 7 so that "remembered" is told apart from every word's value.
struct Outcome {
    int value, remembered;
};

bool operator==(const Outcome& a, const Outcome& b) {
    return a.value == b.value && a.remembered == b.remembered;
}

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << "{value " << o.value << ", remembered " << o.remembered << "}";
}

Outcome SetSource(HostKind kind, const std::string& text) {
    int remembered = 7;
    int value = SetSourceQuality(kind, text, remembered);
    return {value, remembered};
}

Outcome SetQuality(HostKind kind, const std::string& text) {
    int remembered = 7;
    int value = SetQualityValue(kind, text, remembered);
    return {value, remembered};
}

}  // namespace

TEST(Quality, CommandWordsPerHost) {
    struct Case {
        std::string text;
        Outcome tivaneSource, tivaneQuality, parlexSource, parlexQuality;
    };
    const Case cases[] = {
        {"Low", {0, 0}, {0, 0}, {1, 7}, {1, 7}},
        {"low", {0, 0}, {0, 0}, {1, 7}, {1, 7}},
        {"0", {0, 0}, {0, 0}, {7, 7}, {100, 7}},
        {"Medium", {100, 100}, {100, 100}, {50, 7}, {50, 7}},
        {"medium", {100, 100}, {100, 100}, {50, 7}, {50, 7}},
        {"High", {100, 100}, {100, 100}, {100, 7}, {100, 7}},
        {"high", {100, 100}, {100, 100}, {100, 7}, {100, 7}},
        {"50", {100, 100}, {100, 100}, {7, 7}, {100, 7}},
        {"LOW", {100, 100}, {100, 100}, {7, 7}, {100, 7}},
        {"Low ", {100, 100}, {100, 100}, {7, 7}, {100, 7}},
        {"lowest", {100, 100}, {100, 100}, {7, 7}, {100, 7}},
        {"", {7, 7}, {100, 100}, {7, 7}, {100, 7}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SetSource(HostKind::Tivane, c.text), c.tivaneSource) << "'" << c.text << "'";
        EXPECT_EQ(SetQuality(HostKind::Tivane, c.text), c.tivaneQuality) << "'" << c.text << "'";
        EXPECT_EQ(SetSource(HostKind::Parlex, c.text), c.parlexSource) << "'" << c.text << "'";
        EXPECT_EQ(SetQuality(HostKind::Parlex, c.text), c.parlexQuality) << "'" << c.text << "'";
    }
}

TEST(Quality, OmtSuggestedQualityFromStoredValue) {
    const int cases[][2] = {{-5, 1}, {0, 1}, {1, 1}, {2, 50}, {50, 50}, {51, 100}, {100, 100}};
    for (const auto& c : cases) {
        EXPECT_EQ(MapOmtQuality(c[0]), c[1]) << c[0];
    }
}
