// A host started without a pipe name ends with exit code 1 before it makes a window.
// Runs whichever host programs have been built beside this test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

#include "host_kind.h"
#include "test_files.h"
#include "test_pipe_server.h"
#include "win_types.h"

namespace {

std::wstring BinDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L"\\/") + 1);
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct WindowSearch {
    DWORD processId;
    bool found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

// Only the child's own windows count: other tests may make windows of the same class
// at the same time.
bool HasWindowOfClass(const wchar_t* windowClass, DWORD processId) {
    for (HWND window = FindWindowExW(nullptr, nullptr, windowClass, nullptr); window != nullptr;
         window = FindWindowExW(nullptr, window, windowClass, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) {
            return true;
        }
    }
    return false;
}

// Starts the program and watches for its windows until it ends; false if it did not
// end within the wait. Once a window has been seen and the host has announced itself on
// `server` (when given), that pipe is closed.
bool RunAndWatch(const std::wstring& program, const std::wstring& arguments,
                 const wchar_t* windowClass, DWORD& exitCode, bool& sawWindow,
                 TestPipeServer* server = nullptr) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    sawWindow = false;
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (WaitForSingleObject(process.Get(), 5) == WAIT_TIMEOUT) {
        WindowSearch search{info.dwProcessId, false};
        EnumWindows(&FindProcessWindow, reinterpret_cast<LPARAM>(&search));
        sawWindow = sawWindow || search.found || HasWindowOfClass(windowClass, info.dwProcessId);
        if (sawWindow && server != nullptr) {
            // The window comes before the connection: let the host announce itself, then
            // close, and it sees a broken pipe and ends.
            std::vector<std::string> lines;
            if (server->AwaitClient(20000, process.Get())) {
                server->ReadUntil("host_ready", lines, 20000);
            }
            server->Close();
            server = nullptr;
        }
        if (GetTickCount64() > deadline) {
            TerminateProcess(process.Get(), 2);
            return false;
        }
    }
    return GetExitCodeProcess(process.Get(), &exitCode) != 0;
}

TEST(HostExitTest, NoPipeNameEndsWithOneAndNoWindow) {
    const HostKind kinds[] = {HostKind::Parlex, HostKind::Tivane, HostKind::Grelm};
    const wchar_t* const argumentLines[] = {
        L"",
        L"--pipeName= --quality=Low",
        L"--quality=Medium --pipeName=\"\"",
    };
    int ran = 0;
    for (HostKind kind : kinds) {
        const HostTraits& traits = TraitsOf(kind);
        std::wstring program = BinDirectory() + traits.windowTitle + L".exe";
        if (!FileExists(program)) {
            continue;
        }
        for (const wchar_t* arguments : argumentLines) {
            SCOPED_TRACE(std::string(traits.name) + " with '" +
                         std::string(arguments, arguments + wcslen(arguments)) + "'");
            DWORD exitCode = 0;
            bool sawWindow = true;
            ASSERT_TRUE(RunAndWatch(program, arguments, traits.windowClass, exitCode, sawWindow));
            EXPECT_EQ(exitCode, 1u);
            EXPECT_FALSE(sawWindow);
            ++ran;
        }
        // The watch itself works: a host that is served (its simulated runtime on the
        // search path) keeps its window until its pipe is closed, then ends with code 0.
        TestPipeServer server;
        ASSERT_TRUE(server.Create());
        std::wstring pipeOption =
            L"--pipeName=" + std::wstring(server.name().begin(), server.name().end());
        DWORD exitCode = 1;
        bool sawWindow = false;
        char path[32768] = {};
        GetEnvironmentVariableA("PATH", path, sizeof path);
        SetEnvironmentVariableA("PATH", (SimDir() + ";" + path).c_str());
        bool ended =
            RunAndWatch(program, pipeOption, traits.windowClass, exitCode, sawWindow, &server);
        SetEnvironmentVariableA("PATH", path);
        ASSERT_TRUE(ended);
        EXPECT_TRUE(sawWindow) << traits.name;
        EXPECT_EQ(exitCode, 0u);
    }
    if (ran == 0) {
        GTEST_SKIP() << "no host program has been built yet";
    }
}

}  // namespace
