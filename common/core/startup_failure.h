// Why a host could not start, as it tells its controller before it exits with code 1:
// one line on its standard error, {"type":"startup_failed","reason":WORD,"text":TEXT}.
// The pipe is not open yet at that point (or cannot be opened at all), so the line goes
// where any controller can collect it: the standard error handle it gave the host.
// Win32-free.
#pragma once

#include <string>

// New reasons are only ever appended; a controller treats a word it does not know as
// Other and still shows the text.
enum class StartupFailure {
    None,             // no reason given
    BadCommandLine,   // no --pipeName=, or an empty one
    NoWindow,         // the host window could not be made
    NoDevice,         // no Direct3D 11 device (feature level 11_0) that can draw
    LibraryNotFound,  // the receiving library is not where the host looks for it
    LibraryUnusable,  // found, but it would not load, lacks an entry, or failed to start
    PipeNotOpened,    // the controller's pipe does not exist or stayed busy
    Other,            // a reason this build does not know
};

struct StartupProblem {
    StartupFailure reason = StartupFailure::None;
    std::string text;  // one line for a person: what failed, with names and codes
};

// "library_not_found" and so on; "" for None.
const char* StartupFailureWord(StartupFailure reason);
StartupFailure StartupFailureFromWord(const std::string& word);

// The line without its LF.
std::string BuildStartupFailed(const StartupProblem& problem);
// The last startup_failed line among `output` (what the host wrote to its standard
// error, a library's text included); reason None when there is none. Its text comes as
// one line: control bytes (line breaks, NUL) become spaces.
StartupProblem ReadStartupFailed(const std::string& output);
