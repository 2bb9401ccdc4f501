// Reading a file mapping that another process made. Any process of the same user can make
// a mapping of the sender list's or a sender's name, and it may make it with pages that
// are reserved but never committed: touching those faults. So a view is read only as far
// as its committed pages reach, and with a copy that fails instead of faulting. Any thread.
#pragma once

#include <cstddef>
#include <vector>

// Opens the mapping `name` read-only, views its first `viewBytes` (0: all of it; a mapping
// smaller than that cannot be viewed) and copies at most `maxBytes` from its start into
// `bytes`, as many as are committed. Missing: no mapping of that name. Unreadable: it
// exists but cannot be viewed, or no byte of it can be read.
enum class MappedRead { Read, Missing, Unreadable };
MappedRead ReadMapping(const char* name, size_t viewBytes, size_t maxBytes,
                       std::vector<unsigned char>& bytes);
