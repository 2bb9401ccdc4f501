/* IID_PPV_ARGS as the Windows SDK's objbase.h defines it; Wine's has none (see
   cmake/clang-cl-check.cmake). */
#pragma once
#include_next <objbase.h>
#if defined(__cplusplus) && !defined(IID_PPV_ARGS)
extern "C++" {
template <typename T>
void** IID_PPV_ARGS_Helper(T** pp) {
    (void)static_cast<IUnknown*>(*pp);
    return reinterpret_cast<void**>(pp);
}
}
#define IID_PPV_ARGS(ppType) __uuidof(**(ppType)), IID_PPV_ARGS_Helper(ppType)
#endif
