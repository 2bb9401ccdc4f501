/* What the Windows SDK declares and Wine's headers lack (see cmake/clang-cl-check.cmake). */
#pragma once
#include_next <winbase.h>
#ifdef __cplusplus
extern "C" {
#endif
WINBASEAPI BOOL WINAPI GetProcessHandleCount(HANDLE, PDWORD);
#ifdef __cplusplus
}
#endif
