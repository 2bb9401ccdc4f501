// The Spout sender record decoded from any 16 bytes: decoding is exact (it encodes back
// to the same bytes), validity is the documented rule, and a valid record is never
// taken for a change of the texture it describes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "sender_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kSenderRecordBytes) {
        return 0;
    }
    const SenderRecord record = DecodeSenderRecord(data);

    unsigned char encoded[kSenderRecordBytes];
    EncodeSenderRecord(record, encoded);
    FUZZ_CHECK(std::memcmp(encoded, data, kSenderRecordBytes) == 0);

    const bool sidesFit =
        record.width >= 1 && record.width <= 16384 && record.height >= 1 && record.height <= 16384;
    const bool valid = IsValidSenderRecord(record);
    FUZZ_CHECK(valid == (record.handle != 0 && sidesFit));
    if (!valid) {
        return 0;
    }
    const int width = static_cast<int>(record.width);
    const int height = static_cast<int>(record.height);
    FUZZ_CHECK(!SenderTextureChanged(record, record.handle, width, height));
    FUZZ_CHECK(SenderTextureChanged(record, record.handle + 1, width, height));
    FUZZ_CHECK(SenderTextureChanged(record, record.handle, width - 1, height));
    FUZZ_CHECK(SenderTextureChanged(record, record.handle, width, height + 1));
    return 0;
}
