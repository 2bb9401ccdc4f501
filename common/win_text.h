// Text across the Win32 boundary: the controller and the hosts speak UTF-8 (to the
// application, on the pipe, in start-up reasons) and call the wide functions of the
// system, so that paths and arguments outside the ANSI code page survive. Any thread.
#pragma once

#include <string>

#include <windows.h>

// False when `text` is not valid UTF-8 (nothing is guessed).
bool ToWide(const std::string& text, std::wstring& wide);
std::string ToUtf8(const std::wstring& wide);

// What follows the program's name on a command line such as GetCommandLineW's: the name
// is skipped as the system reads it (up to the closing quote when it begins with one,
// else up to the first space or tab), and so are the blanks after it.
std::wstring ArgumentsOf(const wchar_t* commandLine);

// The system's words for an error code, as "not found (system error 2)".
std::string SystemErrorText(DWORD error);
