#include "spout_sender_list.h"

#include <vector>

#include "log.h"
#include "mapped_view.h"
#include "win_types.h"

namespace {

// A sender holds the mutex only while it rewrites the list.
constexpr DWORD kMutexWaitMs = 200;

// The list's bytes, copied under its mutex where it has one; false when the mapping exists
// but cannot be read. A list that does not exist reads as no bytes.
bool CopyList(const std::string& listName, std::vector<unsigned char>& bytes) {
    UniqueHandle mutex(
        OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, (listName + "_mutex").c_str()));
    DWORD waited = mutex ? WaitForSingleObject(mutex.Get(), kMutexWaitMs) : WAIT_FAILED;
    const bool locked = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (mutex && !locked) {
        // A sender that keeps the list locked cannot keep it from being read: what it may
        // be writing meanwhile is checked name by name below.
        HostLog("[Spout] sender list mutex not free after %lu ms; reading anyway", kMutexWaitMs);
    }
    const MappedRead read = ReadMapping(listName.c_str(), 0, SpoutSenderList::kMaxListBytes, bytes);
    if (locked) {
        ReleaseMutex(mutex.Get());
    }
    if (read == MappedRead::Unreadable) {
        HostLog("[Spout] sender list '%s' exists but cannot be read", listName.c_str());
    }
    return read != MappedRead::Unreadable;
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
