// Files and folders for the Windows tests: where the test program and the simulated
// runtimes live, temporary folders and files, whole text files. Any thread; a TempDir
// belongs to the thread that made it.
#pragma once

#include <string>
#include <vector>

std::string ExeDir();  // with trailing separator
// <test exe dir>\..\sim\ (with trailing separator); `variant` is a subfolder or "".
std::string SimDir(const std::string& variant = "");
// Makes the simulated runtime in `dir` the one a bare-name load finds, for this process
// (SetDllDirectoryA: "" takes the current folder out of the search as well).
void UseRuntimeFrom(const std::string& dir);

// %TEMP%\<stem>_<pid>_<counter reading>_<n>: unique, also against what an earlier
// process with the same id left behind.
std::string UniqueTempPath(const char* stem);
bool FileExists(const std::string& path);
bool Contains(const std::string& text, const std::string& part);

// The whole file, or "" when it cannot be opened; other writers may still have it open.
std::string ReadTextFile(const std::string& path);
// The complete lines, without their LF; a last line still being written is left out.
std::vector<std::string> ReadLines(const std::string& path);
bool WriteTextFile(const std::string& path, const std::string& text);

// A fresh folder under %TEMP%, emptied and removed again with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }  // with trailing separator
    bool CopyIn(const std::string& file, const std::string& name);

private:
    std::string path_;
};
