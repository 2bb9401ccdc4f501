// Text across the Win32 boundary: the controller and the hosts speak UTF-8 (to the
// application, on the pipe, in start-up reasons) and call the wide functions of the
// system, so that paths and arguments outside the ANSI code page survive. Any thread.
#pragma once

#include <string>

#include <windows.h>

// False when `text` is not valid UTF-8 (nothing is guessed).
bool ToWide(const std::string& text, std::wstring& wide);
std::string ToUtf8(const std::wstring& wide);

// The system's words for an error code, as "not found (system error 2)".
std::string SystemErrorText(DWORD error);
