/* Wine's rpcndr.h declares COM interfaces without their GUIDs; the Windows SDK's attach
   them, which __uuidof and IID_PPV_ARGS need (see cmake/clang-cl-check.cmake). */
#pragma once
#include_next <rpcndr.h>
#ifdef __cplusplus
#undef DECLSPEC_UUID
#define DECLSPEC_UUID(x) __declspec(uuid(x))
#undef MIDL_INTERFACE
#define MIDL_INTERFACE(x) struct __declspec(uuid(x)) __declspec(novtable)
#endif
