#include "mapped_view.h"

#include "win_types.h"

namespace {

// The committed bytes from `view` on: the view of a mapping is its size in whole pages.
size_t CommittedBytes(const void* view) {
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(view, &region, sizeof region) != sizeof region || region.State != MEM_COMMIT) {
        return 0;
    }
    const char* base = static_cast<const char*>(region.BaseAddress);
    return region.RegionSize - static_cast<size_t>(static_cast<const char*>(view) - base);
}

}  // namespace

MappedRead ReadMapping(const char* name, size_t viewBytes, size_t maxBytes,
                       std::vector<unsigned char>& bytes) {
    bytes.clear();
    UniqueHandle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, name));
    if (!mapping) {
        return MappedRead::Missing;
    }
    const void* view = MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, viewBytes);
    if (view == nullptr) {
        return MappedRead::Unreadable;
    }
    const size_t committed = CommittedBytes(view);
    bytes.resize(committed < maxBytes ? committed : maxBytes);
    SIZE_T copied = 0;
    // Fails where a page is gone or was never there, instead of faulting.
    const bool read =
        !bytes.empty() &&
        ReadProcessMemory(GetCurrentProcess(), view, bytes.data(), bytes.size(), &copied) &&
        copied == bytes.size();
    UnmapViewOfFile(view);
    if (!read) {
        bytes.clear();
        return MappedRead::Unreadable;
    }
    return MappedRead::Read;
}
