#include "library_thread.h"

#include <memory>
#include <string>
#include <utility>

namespace {

struct Start {
    std::function<void()> body;
    std::wstring name;
    HMODULE module = nullptr;  // a reference of the thread's own, or null
};

// Windows 10 1607 and later keep thread names; before, there is nothing to set.
void NameThisThread(const std::wstring& name) {
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (set != nullptr) {
        set(GetCurrentThread(), name.c_str());
    }
}

DWORD WINAPI LibraryThreadMain(LPVOID context) {
    std::unique_ptr<Start> start(static_cast<Start*>(context));
    NameThisThread(start->name);
    start->body();
    HMODULE module = start->module;
    start.reset();  // everything of the body's goes before the module may
    if (module != nullptr) {
        FreeLibraryAndExitThread(module, 0);
    }
    return 0;
}

}  // namespace

UniqueHandle StartLibraryThread(const wchar_t* what, std::function<void()> body) {
    auto start = std::make_unique<Start>();
    start->body = std::move(body);
    start->name = std::wstring(L"host_controller: ") + what;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&LibraryThreadMain), &start->module);
    UniqueHandle thread(CreateThread(nullptr, 0, &LibraryThreadMain, start.get(), 0, nullptr));
    if (thread) {
        start.release();  // the thread's now
    } else if (start->module != nullptr) {
        DWORD error = GetLastError();
        FreeLibrary(start->module);
        SetLastError(error);
    }
    return thread;
}
