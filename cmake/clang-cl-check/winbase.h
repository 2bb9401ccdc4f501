/* What the Windows SDK declares and Wine's headers lack (see cmake/clang-cl-check.cmake). */
#pragma once
#include_next <winbase.h>
#ifdef __cplusplus
extern "C" {
#endif
WINBASEAPI BOOL WINAPI GetProcessHandleCount(HANDLE, PDWORD);
#ifndef PIPE_REJECT_REMOTE_CLIENTS
#define PIPE_REJECT_REMOTE_CLIENTS 0x00000008
#endif
#ifdef __cplusplus
}
#endif
