#include "test_files.h"

#include <atomic>
#include <cstdio>

#include "win_types.h"

std::string ExeDir() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, length);
    return exe.substr(0, exe.find_last_of("\\/") + 1);
}

std::string SimDir(const std::string& variant) {
    std::string dir = ExeDir() + "..\\sim\\";
    return variant.empty() ? dir : dir + variant + "\\";
}

void UseRuntimeFrom(const std::string& dir) {
    SetDllDirectoryA(dir.c_str());
}

std::string UniqueTempPath(const char* stem) {
    static std::atomic<int> counter{0};
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    // Process ids come back soon, and a file that an earlier process could not delete
    // (a program of its still had it open) may still be there: the counter reading keeps
    // this process's names apart from that one's.
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    char name[MAX_PATH];
    std::snprintf(name, sizeof(name), "%s%s_%lu_%llx_%d", dir, stem, GetCurrentProcessId(),
                  static_cast<unsigned long long>(now.QuadPart), counter.fetch_add(1));
    return name;
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string ReadTextFile(const std::string& path) {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    return text;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::string text = ReadTextFile(path);
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

TempDir::TempDir() : path_(UniqueTempPath("host_test") + "\\") {
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempDir::~TempDir() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((path_ + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}

bool TempDir::CopyIn(const std::string& file, const std::string& name) {
    return CopyFileA(file.c_str(), (path_ + name).c_str(), FALSE) != 0;
}
