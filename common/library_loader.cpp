#include "library_loader.h"

#include <string>

#include "log.h"
#include "startup_report.h"
#include "win_text.h"

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

// The system's search as LoadLibraryW makes it here: the system folders, then PATH; the
// current folder is not among them.
std::wstring SearchFolders() {
    wchar_t system[MAX_PATH] = {};
    wchar_t windows[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring folders = std::wstring(system) + L";" + windows;
    DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size > 0) {
        std::wstring path(size, L'\0');
        path.resize(GetEnvironmentVariableW(L"PATH", &path[0], size));
        folders += L";" + path;
    }
    return folders;
}

// "PATH could not be loaded: why", where the system's words may name the file as %1.
std::string Refused(const std::wstring& path, DWORD error) {
    std::string file = ToUtf8(path);
    std::string words = SystemErrorText(error);
    for (size_t at = words.find("%1"); at != std::string::npos; at = words.find("%1", at)) {
        words.replace(at, 2, "it");
    }
    if (error == ERROR_MOD_NOT_FOUND) {
        words += "; a library it needs is missing";
    }
    return file + " could not be loaded: " + words;
}

// Why the library did not load: not there at all, or there and refused (a library it needs
// is missing, the wrong architecture, its own start-up failed).
StartupProblem LoadFailure(const std::wstring& name, const std::wstring& folder, DWORD ownError,
                           DWORD searchError) {
    StartupProblem problem;
    problem.reason = StartupFailure::LibraryUnusable;
    if (!folder.empty() && GetFileAttributesW((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES) {
        problem.text = Refused(folder + name, ownError);
        return problem;
    }
    std::wstring found(32768, L'\0');
    DWORD length = SearchPathW(SearchFolders().c_str(), name.c_str(), nullptr,
                               static_cast<DWORD>(found.size()), &found[0], nullptr);
    if (length > 0 && length < found.size()) {
        found.resize(length);
        problem.text = Refused(found, searchError);
        return problem;
    }
    problem.reason = StartupFailure::LibraryNotFound;
    problem.text = ToUtf8(name) + " not found: neither in the host's folder (" +
                   (folder.empty() ? std::string("unknown") : ToUtf8(folder)) +
                   ") nor on the system's search path (the system folders, then PATH)";
    return problem;
}

}  // namespace

std::string LibraryPath(const UniqueModule& library) {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(library.Get(), &path[0], static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return ToUtf8(path);
}

UniqueModule LoadReceivingLibrary(const char* fileName, const char* tag, StartupProblem* problem) {
    std::wstring name(fileName, fileName + std::char_traits<char>::length(fileName));
    std::wstring folder = OwnFolder();
    UniqueModule module;
    DWORD ownError = 0;
    if (!folder.empty()) {
        // The library's own dependencies are then looked for beside it first.
        module.Reset(
            LoadLibraryExW((folder + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
        if (module) {
            return module;
        }
        ownError = GetLastError();
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
    if (!module && problem != nullptr) {
        *problem = LoadFailure(name, folder, ownError, GetLastError());
    }
    return module;
}
