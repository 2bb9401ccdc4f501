#include <gtest/gtest.h>

#include "json.h"

TEST(JsonWriter, BuildsStatsLine) {
    std::string text = JsonWriter()
                           .AddString("type", "stats")
                           .AddFloat("fps", 29.97f)
                           .AddInt("width", 1920)
                           .AddInt("height", 1080)
                           .Finish();
    EXPECT_EQ(text, R"({"type":"stats","fps":29.97,"width":1920,"height":1080})");
}
