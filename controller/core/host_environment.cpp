#include "host_environment.h"

#include <algorithm>

namespace {

// The name of "NAME=value"; an entry may start with '=' ("=C:=C:\work"), which is then
// part of its name.
std::wstring NameOf(const std::wstring& entry) {
    size_t equals = entry.find(L'=', entry.empty() ? 0 : 1);
    return entry.substr(0, equals);
}

std::wstring Folded(std::wstring name) {
    for (wchar_t& c : name) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return name;
}

}  // namespace

std::string CheckEnvironmentEntry(const std::string& entry) {
    if (entry.find('\0') != std::string::npos) {
        return "a host variable holds a NUL byte";
    }
    size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0) {
        return "a host variable must be NAME=value: " + entry + " is not";
    }
    return "";
}

std::string CheckLibraryFolder(const std::string& folder) {
    if (folder.find('\0') != std::string::npos || folder.find(';') != std::string::npos ||
        folder.find('"') != std::string::npos) {
        return "the library folder holds a ';', a quote or a NUL byte, which PATH cannot carry";
    }
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    char drive = folder.empty() ? '\0' : folder[0];
    bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    bool absolute = (folder.size() > 2 && letter && folder[1] == ':' && separator(folder[2])) ||
                    (folder.size() > 2 && separator(folder[0]) && separator(folder[1]));
    return absolute ? "" : "the library folder must be an absolute path: " + folder + " is not";
}

std::vector<std::wstring> HostEnvironment(const std::vector<std::wstring>& inherited,
                                          const std::vector<std::wstring>& overrides,
                                          const std::wstring& libraryFolder) {
    std::vector<std::wstring> entries;
    auto set = [&entries](const std::wstring& entry) {
        std::wstring name = Folded(NameOf(entry));
        auto same = std::find_if(entries.begin(), entries.end(), [&name](const std::wstring& e) {
            return Folded(NameOf(e)) == name;
        });
        if (same == entries.end()) {
            entries.push_back(entry);
        } else {
            *same = entry;
        }
    };
    for (const std::wstring& entry : inherited) {
        if (!entry.empty()) {
            set(entry);
        }
    }
    for (const std::wstring& entry : overrides) {
        set(entry);
    }
    if (!libraryFolder.empty()) {
        auto path = std::find_if(entries.begin(), entries.end(), [](const std::wstring& e) {
            return Folded(NameOf(e)) == L"PATH";
        });
        if (path == entries.end()) {
            entries.push_back(L"PATH=" + libraryFolder);
        } else {
            size_t equals = path->find(L'=');
            std::wstring rest = path->substr(equals + 1);
            *path =
                path->substr(0, equals + 1) + libraryFolder + (rest.empty() ? L"" : L";" + rest);
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::wstring& a, const std::wstring& b) {
                         bool systemA = !a.empty() && a[0] == L'=';
                         bool systemB = !b.empty() && b[0] == L'=';
                         if (systemA != systemB) {
                             return systemA;
                         }
                         return Folded(NameOf(a)) < Folded(NameOf(b));
                     });
    return entries;
}

std::wstring EnvironmentBlock(const std::vector<std::wstring>& entries) {
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    if (entries.empty()) {
        block += L'\0';  // an empty block still ends with two NULs
    }
    block += L'\0';
    return block;
}
