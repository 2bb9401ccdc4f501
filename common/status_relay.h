// The receivers' status and stats reports, passed on to the pipe unchanged. Run on the
// receiver's worker thread.
#pragma once

#include "host_kind.h"
#include "pipe_client.h"
#include "receiver_callbacks.h"

StatusCallback MakeStatusCallback(HostKind kind, PipeClient& pipe);
StatsCallback MakeStatsCallback(PipeClient& pipe);
