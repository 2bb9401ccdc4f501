# Compiles the Windows sources on Linux with clang's MSVC-compatible driver (clang-cl,
# target x86_64-pc-windows-msvc: _MSC_VER, the MSVC ABI and MSVC's language rules) and
# the project's MSVC options (/W4 /WX /permissive-). Compile only: there is no MSVC
# library to link against. The headers stand in for Visual Studio's and the Windows
# SDK's: Wine's Windows and C runtime headers (libwine-dev), LLVM's C++ library headers
# (libc++-14-dev) and mingw-w64's WRL. scripts/check-clang-cl drives it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER clang-cl-14)
set(CMAKE_CXX_COMPILER clang-cl-14)
set(CMAKE_AR llvm-lib-14)
set(CMAKE_LINKER lld-link-14)
set(CMAKE_MT llvm-mt-14)
set(CMAKE_RC_COMPILER llvm-rc-14)
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET x86_64-pc-windows-msvc)
# Nothing can be linked, so the compiler checks build a static library instead.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(HOSTS_CHECK_WINE_INCLUDE /usr/include/wine/wine)
set(HOSTS_CHECK_LIBCXX_INCLUDE /usr/lib/llvm-14/include/c++/v1)
# Only the wrl/ folder of mingw-w64's headers: the rest would clash with Wine's.
set(HOSTS_CHECK_WRL_INCLUDE ${CMAKE_CURRENT_BINARY_DIR}/clang-cl-check-wrl)
if(NOT EXISTS ${HOSTS_CHECK_WRL_INCLUDE}/wrl)
  file(MAKE_DIRECTORY ${HOSTS_CHECK_WRL_INCLUDE})
  file(CREATE_LINK /usr/share/mingw-w64/include/wrl ${HOSTS_CHECK_WRL_INCLUDE}/wrl SYMBOLIC)
endif()

# -imsvc: searched like Visual Studio's INCLUDE folders, as system headers. The folder
# beside this file fills gaps of Wine's C runtime headers that LLVM's library needs.
# _LIBCPP_NO_VCRUNTIME: LLVM's library provides what it would take from vcruntime.
# WINE_UNICODE_NATIVE: WCHAR is wchar_t, as in the Windows SDK.
# Wine's winnt.h defines a function that clang already has as a builtin; renamed away.
set(hosts_check_flags
    "-imsvc ${HOSTS_CHECK_LIBCXX_INCLUDE} -imsvc ${CMAKE_CURRENT_LIST_DIR}/clang-cl-check"
    "-imsvc ${HOSTS_CHECK_WINE_INCLUDE}/msvcrt -imsvc ${HOSTS_CHECK_WINE_INCLUDE}/windows"
    "-imsvc ${HOSTS_CHECK_WRL_INCLUDE} /D_LIBCPP_NO_VCRUNTIME /DWINE_UNICODE_NATIVE"
    "/D_InterlockedCompareExchange128=HostsCheckInterlockedCompareExchange128")
# MSVC's /W4 warns of narrowing (C4244, C4267, C4305) and of names that hide others
# (C4456 to C4459) where clang's /W4 does not; clang's nearest warnings stand in.
foreach(warning shorten-64-to-32 implicit-int-conversion implicit-float-conversion
                float-conversion shadow shadow-field shadow-field-in-constructor
                shadow-uncaptured-local)
  list(APPEND hosts_check_flags "/clang:-W${warning}")
endforeach()
list(JOIN hosts_check_flags " " hosts_check_flags)
set(CMAKE_C_FLAGS_INIT "${hosts_check_flags}")
set(CMAKE_CXX_FLAGS_INIT "${hosts_check_flags} /EHsc")
