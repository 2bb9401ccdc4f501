// The one diagnostic call. Windows Debug builds send each line to the debugger output;
// Release builds and native builds discard everything.
#pragma once

#if defined(__MINGW32__)
#define HOST_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define HOST_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define HOST_PRINTF_FORMAT(fmt, args)
#endif

void HostLog(const char* format, ...) HOST_PRINTF_FORMAT(1, 2);
