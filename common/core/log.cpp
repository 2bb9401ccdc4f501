#include "log.h"

#if defined(HOST_DIAGNOSTICS) && defined(_WIN32)
#include <cstdarg>
#include <cstdio>
#include <windows.h>

void HostLog(HOST_PRINTF_FORMAT_STRING const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    if (length < 0) {
        return;
    }
    size_t end = static_cast<size_t>(length) < sizeof line - 2 ? static_cast<size_t>(length)
                                                               : sizeof line - 2;
    line[end] = '\n';
    line[end + 1] = '\0';
    OutputDebugStringA(line);
}
#else
void HostLog(const char*, ...) {}
#endif
