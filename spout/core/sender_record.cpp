#include "sender_record.h"

namespace {

uint32_t ReadLittleEndian32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void WriteLittleEndian32(uint32_t value, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

bool IsValidSide(uint32_t side) {
    return side >= 1 && side <= kMaxSenderSide;
}

}  // namespace

SenderRecord DecodeSenderRecord(const unsigned char* bytes) {
    SenderRecord record;
    record.handle = ReadLittleEndian32(bytes);
    record.width = ReadLittleEndian32(bytes + 4);
    record.height = ReadLittleEndian32(bytes + 8);
    record.format = ReadLittleEndian32(bytes + 12);
    return record;
}

void EncodeSenderRecord(const SenderRecord& record, unsigned char* bytes) {
    WriteLittleEndian32(record.handle, bytes);
    WriteLittleEndian32(record.width, bytes + 4);
    WriteLittleEndian32(record.height, bytes + 8);
    WriteLittleEndian32(record.format, bytes + 12);
}

bool IsValidSenderRecord(const SenderRecord& record) {
    return record.handle != 0 && IsValidSide(record.width) && IsValidSide(record.height);
}

bool SenderTextureChanged(const SenderRecord& record, uint32_t openHandle, int openWidth,
                          int openHeight) {
    // Sides of a valid record fit an int, so the comparison is exact.
    return record.handle != openHandle || static_cast<int>(record.width) != openWidth ||
           static_cast<int>(record.height) != openHeight;
}
