#include "library_loader.h"

#include <string>

#include "log.h"

UniqueModule LoadReceivingLibrary(const char* fileName, const char* tag) {
    UniqueModule module(LoadLibraryA(fileName));
    if (module) {
        return module;
    }
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length < MAX_PATH ? length : MAX_PATH);
    size_t separator = directory.find_last_of("\\/");
    if (separator == std::string::npos) {
        return module;
    }
    std::string fullPath = directory.substr(0, separator + 1) + fileName;
    HostLog("%s Trying exe dir: %s", tag, fullPath.c_str());
    module.Reset(LoadLibraryA(fullPath.c_str()));
    return module;
}
