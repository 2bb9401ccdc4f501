// The environment a host starts with: the application's own, with the variables the
// application gives for that host set over it, and the folder it names for the host's
// receiving library put first on PATH (the hosts look beside themselves first, then in
// the system folders, then on PATH). Win32-free; any thread.
#pragma once

#include <string>
#include <vector>

// Why `entry` cannot be one of a host's variables ("NAME=value"), or "" when it can: a
// name is needed, and neither name nor value may hold a NUL byte.
std::string CheckEnvironmentEntry(const std::string& entry);
// Why `folder` cannot be put on a host's PATH, or "" when it can: it must be absolute, and
// a ';' or '"' would split or break PATH.
std::string CheckLibraryFolder(const std::string& folder);

// `inherited` in the order the system gave it, each "NAME=value"; names compare without
// regard to ASCII case, as Windows compares them. A later override of the same name
// wins. The result is sorted by name without regard to case, as an environment block
// must be; the system's own "=C:=..." entries stay first.
std::vector<std::wstring> HostEnvironment(const std::vector<std::wstring>& inherited,
                                          const std::vector<std::wstring>& overrides,
                                          const std::wstring& libraryFolder);
// Each entry NUL-terminated, then one more NUL.
std::wstring EnvironmentBlock(const std::vector<std::wstring>& entries);
