// The Spout sender list: the named file mapping in which every sender on the machine
// enters its name, one 256-byte slot per name, sorted, ended by the first empty slot.
// Decoded from raw bytes (another process wrote them, so anything may be there) and, for
// senders, written. Win32-free; used by Grelm's listing and the test sender.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr const char* kSenderListName = "SpoutSenderNames";
constexpr size_t kSenderNameBytes = 256;  // one slot: a name and its terminator
constexpr size_t kDefaultMaxSenders = 64;

// The names in `size` bytes of a list, in slot order: each slot's text up to its first
// NUL (a slot without one, or the shorter last slot, is cut where it ends), stopping at the
// first empty slot or the end of the bytes.
std::vector<std::string> ParseSenderNames(const unsigned char* bytes, size_t size);

// Enters `name` (1 to 255 bytes, no NUL) into the list in place, keeping it sorted and
// without repeats. False when the name cannot be a sender name or the list has no room.
bool AddSenderName(unsigned char* bytes, size_t size, const std::string& name);
// Takes `name` out of the list in place; the others keep their order.
void RemoveSenderName(unsigned char* bytes, size_t size, const std::string& name);
