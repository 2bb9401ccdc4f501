/* Fills gaps of Wine's C runtime headers that LLVM's C++ library needs (see
   cmake/clang-cl-check.cmake). Declarations only: nothing is linked. */
#pragma once
#include_next <stdlib.h>
#ifndef MB_CUR_MAX
#define MB_CUR_MAX ___mb_cur_max_func()
#endif
#ifdef __cplusplus
extern "C" {
#endif
double __cdecl _strtod_l(const char*, char**, _locale_t);
float __cdecl _strtof_l(const char*, char**, _locale_t);
#ifdef __cplusplus
}
#endif
