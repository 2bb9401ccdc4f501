/* Fills gaps of Wine's C runtime headers that LLVM's C++ library needs (see
   cmake/clang-cl-check.cmake). Declarations only: nothing is linked. */
#pragma once
#include_next <ctype.h>
#ifdef __cplusplus
extern "C" {
#endif
int __cdecl _isupper_l(int, _locale_t);
int __cdecl _islower_l(int, _locale_t);
#ifdef __cplusplus
}
#endif
