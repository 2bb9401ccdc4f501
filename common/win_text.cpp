#include "win_text.h"

bool ToWide(const std::string& text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) {
        return true;
    }
    int size = static_cast<int>(text.size());
    int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (count <= 0) {
        return false;
    }
    wide.resize(static_cast<size_t>(count));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], count) ==
           count;
}

std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) {
        return std::string();
    }
    int size = static_cast<int>(wide.size());
    int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (count <= 0) {
        return std::string();
    }
    std::string text(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &text[0], count, nullptr, nullptr);
    return text;
}

std::string SystemErrorText(DWORD error) {
    std::string number = "system error " + std::to_string(error);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return "not found (" + number + ")";
    }
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
    return words.empty() ? number : ToUtf8(words) + " (" + number + ")";
}

std::wstring ArgumentsOf(const wchar_t* commandLine) {
    if (commandLine == nullptr) {
        return std::wstring();
    }
    const wchar_t* at = commandLine;
    if (*at == L'"') {
        ++at;
        while (*at != L'\0' && *at != L'"') {
            ++at;
        }
        if (*at == L'"') {
            ++at;
        }
    } else {
        while (*at != L'\0' && *at != L' ' && *at != L'\t') {
            ++at;
        }
    }
    while (*at == L' ' || *at == L'\t') {
        ++at;
    }
    return std::wstring(at);
}
