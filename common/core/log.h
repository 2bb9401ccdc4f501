// The one diagnostic call. Windows Debug builds send each line to the debugger output;
// Release builds and native builds discard everything.
#pragma once

// GCC and clang check the arguments against the format through an attribute on the
// declaration; MSVC's code analysis through an annotation on the format parameter.
#if defined(_MSC_VER)
#include <sal.h>
#define HOST_PRINTF_FORMAT_STRING _Printf_format_string_
#else
#define HOST_PRINTF_FORMAT_STRING
#endif

#if defined(__MINGW32__) && !defined(__clang__)
#define HOST_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__) || defined(__clang__)
#define HOST_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define HOST_PRINTF_FORMAT(fmt, args)
#endif

void HostLog(HOST_PRINTF_FORMAT_STRING const char* format, ...) HOST_PRINTF_FORMAT(1, 2);
