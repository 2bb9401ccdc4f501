// The controller library's own threads (the pipe reader, the callback thread, a pipe flush,
// the drain of a host's standard error). Each holds a reference to the module it runs in
// and lets go of it as its very last step (FreeLibraryAndExitThread), so that an
// application may unload host_controller.dll as soon as hc_destroy has returned, even
// where hc_destroy could not wait for a thread to end (inside the callback): the module
// then stays loaded until that thread has ended. Any thread.
#pragma once

#include <functional>

#include "win_types.h"

// Runs `body` on a new thread named "host_controller: <what>" (as a debugger shows it,
// where the system keeps thread names); the handle joins it. Null, with the system's
// error, when no thread could be made.
UniqueHandle StartLibraryThread(const wchar_t* what, std::function<void()> body);
