#include "startup_failure.h"

#include "json.h"

namespace {

struct Word {
    StartupFailure reason;
    const char* word;
};

const Word kWords[] = {
    {StartupFailure::BadCommandLine, "bad_command_line"},
    {StartupFailure::NoWindow, "no_window"},
    {StartupFailure::NoDevice, "no_device"},
    {StartupFailure::LibraryNotFound, "library_not_found"},
    {StartupFailure::LibraryUnusable, "library_unusable"},
    {StartupFailure::PipeNotOpened, "pipe_not_opened"},
    {StartupFailure::Other, "other"},
};

// The text is shown as one line (a log line, hc_last_error) and handed on as a C string:
// line breaks and other control bytes, NUL among them, become spaces.
std::string OneLine(std::string text) {
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

const char* StartupFailureWord(StartupFailure reason) {
    for (const Word& entry : kWords) {
        if (entry.reason == reason) {
            return entry.word;
        }
    }
    return "";
}

StartupFailure StartupFailureFromWord(const std::string& word) {
    for (const Word& entry : kWords) {
        if (word == entry.word) {
            return entry.reason;
        }
    }
    return word.empty() ? StartupFailure::None : StartupFailure::Other;
}

std::string BuildStartupFailed(const StartupProblem& problem) {
    return JsonWriter()
        .AddString("type", "startup_failed")
        .AddString("reason", StartupFailureWord(problem.reason))
        .AddString("text", problem.text)
        .Finish();
}

StartupProblem ReadStartupFailed(const std::string& output) {
    // A library's own text may come before it on the same line, without a line feed of its
    // own.
    const std::string kStart = "{\"type\":\"startup_failed\"";
    StartupProblem found;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? output.size() : end + 1;
        size_t at = line.find(kStart);
        if (at == std::string::npos) {
            continue;
        }
        JsonObject message = ParseJson(line.substr(at));
        found.reason = StartupFailureFromWord(message.Get("reason"));
        if (found.reason == StartupFailure::None) {
            found.reason = StartupFailure::Other;  // it said it failed, if not why
        }
        found.text = OneLine(message.Get("text"));
    }
    return found;
}
