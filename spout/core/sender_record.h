// The Spout sender record: the first 16 bytes of the named file mapping a sender
// publishes (texture handle, width, height), decoded from raw bytes, and the rule that
// makes a record usable. Win32-free; used by the receiver's worker and the test sender.
#pragma once

#include <cstddef>
#include <cstdint>

// What the receiver reads of a sender's mapping; the mapping itself is larger.
constexpr size_t kSenderRecordBytes = 16;
// Size of the whole mapping a sender creates (the record plus its description fields).
constexpr size_t kSenderMappingBytes = 280;
constexpr uint32_t kMaxSenderSide = 16384;

struct SenderRecord {
    uint32_t handle = 0;  // shared texture handle, truncated to 32 bits by the sender
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t format = 0;  // not interpreted by the receiver
};

// Little-endian decode of kSenderRecordBytes bytes.
SenderRecord DecodeSenderRecord(const unsigned char* bytes);
// The inverse, for senders: writes kSenderRecordBytes bytes.
void EncodeSenderRecord(const SenderRecord& record, unsigned char* bytes);

// Handle not 0, width and height in 1..16384. An invalid record counts as a missing one.
bool IsValidSenderRecord(const SenderRecord& record);

// True when a valid record no longer describes the texture that is open.
bool SenderTextureChanged(const SenderRecord& record, uint32_t openHandle, int openWidth,
                          int openHeight);
