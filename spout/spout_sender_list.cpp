#include "spout_sender_list.h"

#include <vector>

#include "log.h"
#include "win_types.h"

namespace {

// A sender holds the mutex only while it rewrites the list.
constexpr DWORD kMutexWaitMs = 200;

// The list's bytes, copied under its mutex where it has one; false when the mapping exists
// but cannot be viewed. A list that does not exist reads as no bytes.
bool CopyList(const std::string& listName, std::vector<unsigned char>& bytes) {
    UniqueHandle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, listName.c_str()));
    if (!mapping) {
        return true;  // no sender has entered the list
    }
    const void* view = MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) {
        return false;
    }
    // The mapping's size is what its first creator chose; its view is that, in pages.
    MEMORY_BASIC_INFORMATION region = {};
    size_t size = VirtualQuery(view, &region, sizeof region) == sizeof region
                      ? static_cast<size_t>(region.RegionSize)
                      : 0;
    size = size < SpoutSenderList::kMaxListBytes ? size : SpoutSenderList::kMaxListBytes;
    UniqueHandle mutex(
        OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, (listName + "_mutex").c_str()));
    DWORD waited = mutex ? WaitForSingleObject(mutex.Get(), kMutexWaitMs) : WAIT_FAILED;
    const bool locked = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (mutex && !locked) {
        // A sender that keeps the list locked cannot keep it from being read: what it may
        // be writing meanwhile is checked name by name below.
        HostLog("[Spout] sender list mutex not free after %lu ms; reading anyway", kMutexWaitMs);
    }
    const auto* first = static_cast<const unsigned char*>(view);
    bytes.assign(first, first + size);
    if (locked) {
        ReleaseMutex(mutex.Get());
    }
    UnmapViewOfFile(view);
    return true;
}

bool SenderRecordExists(const std::string& name) {
    return UniqueHandle(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str())).Valid();
}

}  // namespace

FoundSources SpoutSenderList::Find() {
    std::vector<unsigned char> bytes;
    if (!CopyList(listName_, bytes)) {
        return {{}, "Cannot read sender list"};
    }
    FoundSources found;
    for (std::string& name : ParseSenderNames(bytes.data(), bytes.size())) {
        if (SenderRecordExists(name)) {
            found.names.push_back(std::move(name));
        }
    }
    return found;
}
