/* Fills gaps of Wine's C runtime headers that LLVM's C++ library needs: the long double and
   other C99 functions of <cmath> (see cmake/clang-cl-check.cmake). Declarations only. */
#pragma once
#include_next <math.h>
#ifdef __cplusplus
extern "C" {
#endif
#define SHIM_L1(name) long double __cdecl name##l(long double);
#define SHIM_L2(name) long double __cdecl name##l(long double, long double);
SHIM_L1(acos) SHIM_L1(asin) SHIM_L1(atan) SHIM_L1(ceil) SHIM_L1(cos) SHIM_L1(cosh) SHIM_L1(exp)
SHIM_L1(fabs) SHIM_L1(floor) SHIM_L1(log) SHIM_L1(log10) SHIM_L1(sin) SHIM_L1(sinh) SHIM_L1(sqrt)
SHIM_L1(tan) SHIM_L1(tanh) SHIM_L1(acosh) SHIM_L1(asinh) SHIM_L1(atanh) SHIM_L1(cbrt)
SHIM_L1(erf) SHIM_L1(erfc) SHIM_L1(exp2) SHIM_L1(expm1) SHIM_L1(lgamma) SHIM_L1(log1p)
SHIM_L1(log2) SHIM_L1(logb) SHIM_L1(nearbyint) SHIM_L1(tgamma)
SHIM_L2(atan2) SHIM_L2(fmod) SHIM_L2(pow) SHIM_L2(fdim) SHIM_L2(fmax) SHIM_L2(fmin) SHIM_L2(hypot)
SHIM_L2(nextafter) SHIM_L2(remainder) SHIM_L2(nexttoward)
long double __cdecl frexpl(long double, int*);
long double __cdecl ldexpl(long double, int);
long double __cdecl modfl(long double, long double*);
long double __cdecl scalbnl(long double, int);
long double __cdecl scalblnl(long double, long);
long double __cdecl remquol(long double, long double, int*);
int __cdecl ilogbl(long double);
float __cdecl erfcf(float);
float __cdecl nexttowardf(float, long double);
double __cdecl nexttoward(double, long double);
double __cdecl erfc(double);
#ifdef __cplusplus
}
#endif
