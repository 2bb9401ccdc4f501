// Parlex's entry point: the shared host program with the OMT receiver plugged in.
#include <memory>

#include <windows.h>

#include "cpu_frame_receiver.h"
#include "host_main.h"
#include "omt_receiver.h"

namespace {

std::unique_ptr<HostReceiver> CreateParlexReceiver() {
    return std::make_unique<CpuFrameHostReceiver<OmtReceiver, &OmtReceiver::SetQuality>>();
}

}  // namespace

// The command line is read wide by RunHost: this one is in the ANSI code page.
int WINAPI WinMain(_In_ HINSTANCE instance, _In_opt_ HINSTANCE /*previous*/, _In_ LPSTR /*ansi*/,
                   _In_ int /*showCommand*/) {
    return RunHost(instance, HostKind::Parlex, &CreateParlexReceiver);
}
