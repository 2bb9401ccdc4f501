/* struct timespec, which LLVM's C++ library needs and Wine's time.h lacks (see
   cmake/clang-cl-check.cmake). */
#pragma once
#include_next <time.h>
#ifndef _TIMESPEC_DEFINED
#define _TIMESPEC_DEFINED
struct timespec { time_t tv_sec; long tv_nsec; };
#endif
