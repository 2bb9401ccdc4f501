// The Spout sender record's layout and validity rule, the sender list's slots, and which
// shared textures the presenter can draw.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sender_names.h"
#include "sender_record.h"
#include "texture_format.h"

namespace {

SenderRecord Record(uint32_t handle, uint32_t width, uint32_t height) {
    SenderRecord record;
    record.handle = handle;
    record.width = width;
    record.height = height;
    return record;
}

TEST(SenderRecordTest, DecodesLittleEndianFieldsAtTheirOffsets) {
    const unsigned char bytes[kSenderRecordBytes] = {0x04, 0x03, 0x02, 0xC0, 0x80, 0x07, 0, 0,
                                                     0x38, 0x04, 0,    0,    87,   0,    0, 0};
    SenderRecord record = DecodeSenderRecord(bytes);
    EXPECT_EQ(record.handle, 0xC0020304u);
    EXPECT_EQ(record.width, 1920u);
    EXPECT_EQ(record.height, 1080u);
    EXPECT_EQ(record.format, 87u);

    unsigned char encoded[kSenderRecordBytes] = {};
    EncodeSenderRecord(record, encoded);
    EXPECT_EQ(0, memcmp(bytes, encoded, sizeof(bytes)));
}

TEST(SenderRecordTest, AcceptsOnlyAHandleAndSidesFrom1To16384) {
    struct Case {
        SenderRecord record;
        bool valid;
    } cases[] = {
        {Record(0x1234, 1280, 720), true},
        {Record(0x1234, 1, 1), true},
        {Record(0x1234, 16384, 16384), true},
        {Record(0xFFFFFFFF, 16384, 1), true},
        {Record(0, 1280, 720), false},
        {Record(0x1234, 0, 720), false},
        {Record(0x1234, 1280, 0), false},
        {Record(0x1234, 16385, 720), false},
        {Record(0x1234, 1280, 16385), false},
        {Record(0x1234, 0xFFFFFFFF, 720), false},  // would be negative as an int
        {Record(0, 0, 0), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsValidSenderRecord(c.record), c.valid)
            << c.record.handle << " " << c.record.width << "x" << c.record.height;
    }
}

TEST(SenderRecordTest, ChangeMeansNewHandleOrNewSize) {
    SenderRecord record = Record(0x40, 640, 360);
    EXPECT_FALSE(SenderTextureChanged(record, 0x40, 640, 360));
    EXPECT_TRUE(SenderTextureChanged(record, 0x41, 640, 360));
    EXPECT_TRUE(SenderTextureChanged(record, 0x40, 641, 360));
    EXPECT_TRUE(SenderTextureChanged(record, 0x40, 640, 361));
    EXPECT_TRUE(SenderTextureChanged(record, 0, 0, 0));  // nothing open yet
}

// Slots of 256 bytes, each name written from the slot's start.
std::vector<unsigned char> List(const std::vector<std::string>& slots, size_t size) {
    std::vector<unsigned char> bytes(size, 0);
    for (size_t i = 0; i < slots.size(); ++i) {
        const size_t at = i * kSenderNameBytes;
        std::memcpy(bytes.data() + at, slots[i].data(),
                    std::min(slots[i].size(), size > at ? size - at : 0));
    }
    return bytes;
}

TEST(SenderNamesTest, ReadsSlotsUpToTheFirstEmptyOneOrTheEndWhateverTheBytes) {
    const std::string full(kSenderNameBytes, 'x');  // no terminator in its slot
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        std::vector<std::string> names;
    } cases[] = {
        {"empty list", List({}, 16384), {}},
        {"no bytes at all", {}, {}},
        {"sorted names", List({"A", "B c", "\x01\xFF\""}, 16384), {"A", "B c", "\x01\xFF\""}},
        {"stops at the first empty slot", List({"A", "", "B"}, 16384), {"A"}},
        {"a slot without terminator is cut at 256 bytes", List({full, "B"}, 16384), {full, "B"}},
        {"text after a slot's terminator is not a name",
         List({std::string("A\0garbage", 9), "B"}, 1024),
         {"A", "B"}},
        {"a size that is no multiple of a slot",
         List({"A", "B", "partial"}, 2 * 256 + 3),
         {"A", "B", "par"}},
        {"a mapping smaller than one slot", List({"ABCDEF"}, 4), {"ABCD"}},
        {"every slot full", List(std::vector<std::string>(4, full), 4 * 256),
         std::vector<std::string>(4, full)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseSenderNames(c.bytes.data(), c.bytes.size()), c.names) << c.what;
    }
}

TEST(SenderNamesTest, SendersEnterAndLeaveInOrderWithinTheListsRoom) {
    std::vector<unsigned char> list(3 * kSenderNameBytes, 0xEE);  // garbage before any sender
    list[0] = 0;
    auto names = [&list] { return ParseSenderNames(list.data(), list.size()); };
    EXPECT_TRUE(AddSenderName(list.data(), list.size(), "m"));
    EXPECT_TRUE(AddSenderName(list.data(), list.size(), "b"));
    EXPECT_TRUE(AddSenderName(list.data(), list.size(), "b"));  // already there
    EXPECT_EQ(names(), (std::vector<std::string>{"b", "m"}));
    EXPECT_FALSE(AddSenderName(list.data(), list.size(), ""));
    EXPECT_FALSE(AddSenderName(list.data(), list.size(), std::string(kSenderNameBytes, 'n')));
    EXPECT_FALSE(AddSenderName(list.data(), list.size(), std::string("a\0b", 3)));
    EXPECT_TRUE(AddSenderName(list.data(), list.size(), "z"));
    EXPECT_FALSE(AddSenderName(list.data(), list.size(), "c"));  // no room left
    EXPECT_EQ(names(), (std::vector<std::string>{"b", "m", "z"}));
    RemoveSenderName(list.data(), list.size(), "m");
    RemoveSenderName(list.data(), list.size(), "absent");
    EXPECT_EQ(names(), (std::vector<std::string>{"b", "z"}));
    RemoveSenderName(list.data(), list.size(), "b");
    RemoveSenderName(list.data(), list.size(), "z");
    EXPECT_TRUE(names().empty());
}

TEST(CopyTargetPlanTest, KeepsSamplableFormatsAndRefusesTheRest) {
    struct Case {
        SharedTextureShape shape;
        bool drawable;
        uint32_t textureFormat;
        uint32_t viewFormat;
        const char* reason;
    } cases[] = {
        {{87, 1, 1}, true, 87, 87, ""},  // B8G8R8A8_UNORM: the usual sender
        {{28, 1, 1}, true, 28, 28, ""},  // R8G8B8A8_UNORM
        {{24, 1, 1}, true, 24, 24, ""},  // R10G10B10A2_UNORM
        {{10, 1, 1}, true, 10, 10, ""},  // R16G16B16A16_FLOAT
        {{2, 1, 1}, true, 2, 2, ""},     // R32G32B32A32_FLOAT
        {{91, 1, 1}, true, 90, 87, ""},  // B8G8R8A8_UNORM_SRGB: bytes pass unchanged
        {{29, 1, 1}, true, 27, 28, ""},  // R8G8B8A8_UNORM_SRGB
        {{27, 1, 1}, false, 0, 0, "typeless"},
        {{90, 1, 1}, false, 0, 0, "typeless"},
        {{40, 1, 1}, false, 0, 0, "depth-stencil"},
        {{45, 1, 1}, false, 0, 0, "depth-stencil"},
        {{71, 1, 1}, false, 0, 0, "block-compressed"},
        {{98, 1, 1}, false, 0, 0, "block-compressed"},
        {{30, 1, 1}, false, 0, 0, "integer"},
        {{0, 1, 1}, false, 0, 0, "unknown"},
        {{103, 1, 1}, false, 0, 0, "not sampled as colour"},  // NV12
        {{87, 4, 1}, false, 0, 0, "multisampled"},
        {{87, 1, 2}, false, 0, 0, "texture array"},
    };
    for (const Case& c : cases) {
        CopyTargetPlan plan = PlanCopyTarget(c.shape);
        SCOPED_TRACE(c.shape.format);
        EXPECT_EQ(plan.drawable, c.drawable);
        if (c.drawable) {
            EXPECT_EQ(plan.textureFormat, c.textureFormat);
            EXPECT_EQ(plan.viewFormat, c.viewFormat);
        } else {
            EXPECT_STREQ(plan.reason, c.reason);
        }
    }
}

}  // namespace
