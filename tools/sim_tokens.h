// Cuts a simulated source's name into its tokens, for both simulated runtimes: split at
// the separator, spaces and tabs around each token dropped, empty tokens left out, so
// "pattern:640x360@30 ; novideo" reads like "pattern:640x360@30;novideo". Win32-free.
#pragma once

#include <string>
#include <vector>

inline std::string TrimSimToken(const std::string& text) {
    const char* kBlanks = " \t";
    size_t begin = text.find_first_not_of(kBlanks);
    if (begin == std::string::npos) {
        return std::string();
    }
    size_t end = text.find_last_not_of(kBlanks);
    return text.substr(begin, end - begin + 1);
}

inline std::vector<std::string> SplitSimTokens(const std::string& text, char separator) {
    std::vector<std::string> tokens;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find(separator, begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string token = TrimSimToken(text.substr(begin, end - begin));
        if (!token.empty()) {
            tokens.push_back(token);
        }
        begin = end + 1;
    }
    return tokens;
}
