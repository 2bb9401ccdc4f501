// The waits on Windows: a signal is a manual-reset event, every wait dispatches the
// messages sent to the waiting thread (sent_message_wait.h), and a thread receives notes
// through a message-only window of its own, whose notes (SendNotifyMessage) are taken in
// any wait that takes sent messages: SendMessage's own wait for its answer among them.
#include <vector>

#include "host_event.h"
#include "sent_message_wait.h"
#include "thread_wait.h"
#include "win_types.h"

struct Signal::State {
    UniqueHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

Signal::Signal() : state_(std::make_unique<State>()) {}

Signal::~Signal() = default;

bool Signal::Valid() const {
    return state_->event.Valid();
}

void Signal::Set() {
    SetEvent(state_->event.Get());
}

void Signal::Reset() {
    ResetEvent(state_->event.Get());
}

bool Signal::IsSet() const {
    return WaitForSingleObject(state_->event.Get(), 0) == WAIT_OBJECT_0;
}

int WaitAny(const Signal* const* signals, size_t count, unsigned timeoutMs) {
    std::vector<HANDLE> handles;
    for (size_t i = 0; i < count && i + 1 < MAXIMUM_WAIT_OBJECTS; ++i) {
        handles.push_back(signals[i]->state_->event.Get());
    }
    DWORD woken = WaitTakingSentMessages(static_cast<DWORD>(handles.size()), handles.data(),
                                         timeoutMs == kWaitForever ? INFINITE : timeoutMs);
    return woken >= WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + handles.size()
               ? static_cast<int>(woken - WAIT_OBJECT_0)
               : -1;
}

bool HandlingBlockedSender() {
    return (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND;
}

bool SentMessageWaiting() {
    return (HIWORD(GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
}

namespace {

constexpr UINT kNoteMessage = WM_APP + 0x4E;
constexpr wchar_t kNoteClass[] = L"HostControllerNotes";

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

struct NoteReceiver::State {
    HWND window = nullptr;
    OnNote onNote = nullptr;
    void* context = nullptr;

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == kNoteMessage) {
            auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            if (state != nullptr) {
                state->onNote(state->context, static_cast<uint64_t>(wparam));
            }
            return 0;
        }
        return DefWindowProcW(window, message, wparam, lparam);
    }
};

NoteReceiver::NoteReceiver(OnNote onNote, void* context) : state_(std::make_unique<State>()) {
    state_->onNote = onNote;
    state_->context = context;
    HINSTANCE module = ThisModule();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &State::Proc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kNoteClass;
    RegisterClassExW(&windowClass);  // fails harmlessly once registered
    state_->window =
        CreateWindowExW(0, kNoteClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    if (state_->window != nullptr) {
        SetWindowLongPtrW(state_->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state_.get()));
    }
}

NoteReceiver::~NoteReceiver() {
    if (state_->window != nullptr) {
        DestroyWindow(state_->window);
    }
}

bool NoteReceiver::Valid() const {
    return state_->window != nullptr;
}

void NoteReceiver::Send(uint64_t note) {
    if (state_->window != nullptr) {
        SendNotifyMessageW(state_->window, kNoteMessage, static_cast<WPARAM>(note), 0);
    }
}
