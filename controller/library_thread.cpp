#include "library_thread.h"

#include <memory>
#include <utility>

namespace {

struct Start {
    std::function<void()> body;
    HMODULE module = nullptr;  // a reference of the thread's own, or null
};

DWORD WINAPI LibraryThreadMain(LPVOID context) {
    std::unique_ptr<Start> start(static_cast<Start*>(context));
    start->body();
    HMODULE module = start->module;
    start.reset();  // everything of the body's goes before the module may
    if (module != nullptr) {
        FreeLibraryAndExitThread(module, 0);
    }
    return 0;
}

}  // namespace

UniqueHandle StartLibraryThread(std::function<void()> body) {
    auto start = std::make_unique<Start>();
    start->body = std::move(body);
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
