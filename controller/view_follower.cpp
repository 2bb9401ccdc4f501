#include "view_follower.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

struct ViewFollower::Entry {
    HWND container = nullptr;
    DWORD thread = 0;
    std::function<void()> changed;
    std::mutex running;  // held while the callback runs
    std::atomic<DWORD> runningThread{0};
    std::atomic<bool> watching{true};
};

namespace {

struct ThreadHook {
    HHOOK hook = nullptr;
    std::vector<ViewFollower::Token> entries;
};

// Every thread hooked by this process, and what watches it.
struct Registry {
    std::mutex lock;
    std::map<DWORD, ThreadHook> threads;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // left to the end of the process: a hook
    return *registry;                          // may still run while statics go
}

bool Concerns(const ViewFollower::Entry& entry, HWND changed) {
    return changed == entry.container || IsChild(changed, entry.container);
}

LRESULT CALLBACK AfterMessage(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && message != nullptr && message->message == WM_WINDOWPOSCHANGED) {
        std::vector<ViewFollower::Token> concerned;
        {
            Registry& registry = TheRegistry();
            std::lock_guard<std::mutex> lock(registry.lock);
            auto hooked = registry.threads.find(GetCurrentThreadId());
            if (hooked != registry.threads.end()) {
                for (const ViewFollower::Token& entry : hooked->second.entries) {
                    if (Concerns(*entry, message->hwnd)) {
                        concerned.push_back(entry);
                    }
                }
            }
        }
        for (const ViewFollower::Token& entry : concerned) {
            std::lock_guard<std::mutex> running(entry->running);
            if (entry->watching.load()) {
                entry->runningThread.store(GetCurrentThreadId());
                entry->changed();
                entry->runningThread.store(0);
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

ViewFollower::Token ViewFollower::Watch(HWND container, std::function<void()> changed) {
    const DWORD thread = GetWindowThreadProcessId(container, nullptr);
    if (thread == 0) {
        return nullptr;
    }
    auto entry = std::make_shared<Entry>();
    entry->container = container;
    entry->thread = thread;
    entry->changed = std::move(changed);
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    ThreadHook& hooked = registry.threads[thread];
    if (hooked.hook == nullptr) {
        hooked.hook = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterMessage, nullptr, thread);
        if (hooked.hook == nullptr) {
            registry.threads.erase(thread);
            return nullptr;
        }
    }
    hooked.entries.push_back(entry);
    return entry;
}

void ViewFollower::Unwatch(Token& token) {
    if (!token) {
        return;
    }
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.lock);
        auto hooked = registry.threads.find(token->thread);
        if (hooked != registry.threads.end()) {
            std::vector<Token>& entries = hooked->second.entries;
            entries.erase(std::remove(entries.begin(), entries.end(), token), entries.end());
            if (entries.empty()) {
                UnhookWindowsHookEx(hooked->second.hook);
                registry.threads.erase(hooked);
            }
        }
    }
    token->watching.store(false);
    // A callback in progress on another thread is waited for; one on this thread is the
    // caller itself.
    if (token->runningThread.load() != GetCurrentThreadId()) {
        std::lock_guard<std::mutex> running(token->running);
    }
    token.reset();
}
