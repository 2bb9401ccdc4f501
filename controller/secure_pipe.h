// The controller's end of a host's pipe, made so that no other process can stand in for
// either end: an unguessable name, the first and only instance of that name (a server
// that squats the name first makes the creation fail instead of being shared), remote
// clients rejected, and access for the current user alone. Any thread.
#pragma once

#include <string>

#include "win_types.h"

// prefix-<our pid>-<32 hex digits from the system's random generator>. False when the
// generator fails.
bool MakeUnguessablePipeName(const std::string& prefix, std::string& name);

// Creates \\.\pipe\<name>: duplex, byte mode, overlapped, bufferBytes each way. An
// invalid handle on failure, with the system's error code in `error` (ERROR_ACCESS_DENIED,
// ERROR_PIPE_BUSY or ERROR_ALREADY_EXISTS when the name is already taken).
UniqueHandle CreateHostPipe(const std::string& name, DWORD bufferBytes, DWORD& error);

// Whether the client that opened the pipe is the process we started. A system that
// cannot say (no client process id) is taken at its word.
bool ClientIsProcess(HANDLE pipe, DWORD processId);
