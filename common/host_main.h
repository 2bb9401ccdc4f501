// The host program shared by the three hosts: start-up, the message loop that draws
// frames, and teardown, in their fixed orders. Each host's WinMain only calls RunHost.
#pragma once

#include <memory>

#include <windows.h>

#include "host_kind.h"
#include "host_receiver.h"

using ReceiverFactory = std::unique_ptr<HostReceiver> (*)();

// Reads the process's command line (wide, so that a pipe name or source outside the ANSI
// code page survives) and runs the host. Returns the process exit code: 0 after a normal
// end, 1 for every start-up failure.
int RunHost(HINSTANCE instance, HostKind kind, ReceiverFactory createReceiver);
