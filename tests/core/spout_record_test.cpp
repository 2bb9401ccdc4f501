// The Spout sender record's layout and validity rule, and which shared textures the
// presenter can draw.
#include <gtest/gtest.h>

#include <cstring>

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
