#include "library_loader.h"

#include <string>

#include "log.h"

namespace {

// The folder of this executable, with its trailing separator; "" when it cannot be told.
// Wide, so that a folder outside the ANSI code page is found as well.
std::wstring OwnFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

}  // namespace

UniqueModule LoadReceivingLibrary(const char* fileName, const char* tag) {
    std::wstring name(fileName, fileName + std::char_traits<char>::length(fileName));
    std::wstring folder = OwnFolder();
    UniqueModule module;
    if (!folder.empty()) {
        // The library's own dependencies are then looked for beside it first.
        module.Reset(
            LoadLibraryExW((folder + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        if (module) {
            return module;
        }
        HostLog("%s %s not in the exe dir; trying the search path", tag, fileName);
    }
    // A DLL directory takes the current folder's place in the search. Our own folder, which
    // the search has first anyway, is the one that changes nothing else (Wine treats an
    // empty one as none). One that the process has set already is kept.
    wchar_t set[2] = {};
    if (GetDllDirectoryW(2, set) == 0) {
        SetDllDirectoryW(folder.c_str());
    }
    module.Reset(LoadLibraryW(name.c_str()));
    return module;
}
