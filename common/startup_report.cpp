#include "startup_report.h"

#include "log.h"
#include "win_types.h"

namespace {

struct PendingLine {
    HANDLE output;
    std::string bytes;
};

// Owns `context`: the main thread may have stopped waiting for it.
DWORD WINAPI WriteLine(LPVOID context) {
    auto* line = static_cast<PendingLine*>(context);
    DWORD written = 0;
    WriteFile(line->output, line->bytes.data(), static_cast<DWORD>(line->bytes.size()), &written,
              nullptr);
    delete line;
    return 0;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], size,
                            nullptr, nullptr);
    }
    return utf8;
}

std::string SystemErrorWords(DWORD error) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring words(buffer != nullptr ? buffer : L"", length);
    LocalFree(buffer);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' ||
                              words.back() == L' ' || words.back() == L'.')) {
        words.pop_back();
    }
    std::string number = "system error " + std::to_string(error);
    return words.empty() ? number : WideToUtf8(words) + " (" + number + ")";
}

StartupReporter::StartupReporter() : output_(GetStdHandle(STD_ERROR_HANDLE)) {
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
}

void StartupReporter::Report(const StartupProblem& problem) const {
    HostLog("[Startup] %s: %s", StartupFailureWord(problem.reason), problem.text.c_str());
    if (output_ == nullptr || output_ == INVALID_HANDLE_VALUE) {
        return;  // started without one: the exit code is all the controller gets
    }
    auto* line = new PendingLine{output_, BuildStartupFailed(problem) + "\n"};
    UniqueHandle writer(CreateThread(nullptr, 0, &WriteLine, line, 0, nullptr));
    if (!writer) {
        delete line;
        return;
    }
    WaitForSingleObject(writer.Get(), kStartupReportWaitMs);
}
