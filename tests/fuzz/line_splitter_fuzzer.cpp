// The pipe's byte stream cut into lines: bytes fed in arbitrary pieces give the same
// lines, and the same unfinished rest, as the whole stream fed at once, and both agree
// with a plain reading of the framing rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "line_splitter.h"

namespace {

// LF ends a line, one CR before it is dropped, empty lines are skipped.
std::vector<std::string> ReferenceLines(const std::string& stream, std::string& rest) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t lf; (lf = stream.find('\n', start)) != std::string::npos; start = lf + 1) {
        std::string line = stream.substr(start, lf - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    rest = stream.substr(start);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    // The stream comes from the front of the input, the piece sizes from its back.
    const std::string stream = provider.ConsumeBytesAsString(
        provider.ConsumeIntegralInRange<size_t>(0, provider.remaining_bytes()));

    std::vector<std::string> whole;
    LineSplitter oneReader;
    oneReader.Append(stream.data(), stream.size(),
                     [&](const std::string& line) { whole.push_back(line); });

    std::vector<std::string> pieced;
    LineSplitter pieceReader;
    for (size_t at = 0; at < stream.size();) {
        size_t piece = provider.remaining_bytes() == 0
                           ? stream.size() - at
                           : provider.ConsumeIntegralInRange<size_t>(0, stream.size() - at);
        pieceReader.Append(stream.data() + at, piece,
                           [&](const std::string& line) { pieced.push_back(line); });
        at += piece;
    }

    std::string rest;
    FUZZ_CHECK(whole == ReferenceLines(stream, rest));
    FUZZ_CHECK(oneReader.pending() == rest);
    FUZZ_CHECK(pieced == whole);
    FUZZ_CHECK(pieceReader.pending() == rest);
    return 0;
}
