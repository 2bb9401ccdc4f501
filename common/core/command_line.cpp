#include "command_line.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Why a value must be quoted: it would be cut, or its quotes read as quoting. A newline or
// a vertical tab separates arguments in some readers, so they are quoted too.
bool NeedsQuotes(const std::string& text) {
    return text.empty() || text.find_first_of(" \t\n\v\"") != std::string::npos;
}

// `text` between double quotes, each quote and the backslashes before it escaped, and the
// backslashes before the closing quote doubled.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(2 * backslashes + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, '\\');
    out.push_back('"');
    return out;
}

}  // namespace

std::vector<std::string> SplitArguments(const std::string& text) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (IsBlank(c) && !quoted) {
            if (inArgument) {
                arguments.push_back(std::move(current));
                current.clear();
                inArgument = false;
            }
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            size_t count = 0;
            while (i < text.size() && text[i] == '\\') {
                ++count;
                ++i;
            }
            const bool beforeQuote = i < text.size() && text[i] == '"';
            current.append(beforeQuote ? count / 2 : count, '\\');
            if (beforeQuote && count % 2 == 1) {
                current.push_back('"');
                ++i;
            }
            continue;
        }
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                current.push_back('"');
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
            continue;
        }
        current.push_back(c);
        ++i;
    }
    if (inArgument) {
        arguments.push_back(std::move(current));
    }
    return arguments;
}

std::string QuoteArgument(const std::string& argument) {
    if (!NeedsQuotes(argument)) {
        return argument;
    }
    const size_t equals = argument.find('=');
    const bool option = argument.rfind("--", 0) == 0 && equals != std::string::npos &&
                        !NeedsQuotes(argument.substr(0, equals + 1));
    if (option) {
        return argument.substr(0, equals + 1) + Quoted(argument.substr(equals + 1));
    }
    return Quoted(argument);
}
