// What a host does with each command line it reads. Win32-free; runs on the pipe reader
// thread, one command at a time.
#pragma once

#include "host_kind.h"
#include "json.h"
#include "receiver_control.h"

// `rememberedQuality` is HostArgs.quality: the quality "set_source" falls back on.
void HandleCommand(HostKind kind, const JsonObject& command, int& rememberedQuality,
                   ReceiverControl& receiver);
