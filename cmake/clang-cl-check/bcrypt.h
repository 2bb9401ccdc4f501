/* What the Windows SDK declares and Wine's headers lack (see cmake/clang-cl-check.cmake). */
#pragma once
#include_next <bcrypt.h>
#ifndef BCRYPT_SUCCESS
#define BCRYPT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#endif
