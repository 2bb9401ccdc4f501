// Tivane's entry point: the shared host program with the NDI receiver plugged in.
#include <memory>

#include <windows.h>

#include "cpu_frame_receiver.h"
#include "host_main.h"
#include "ndi_receiver.h"

namespace {

std::unique_ptr<HostReceiver> CreateTivaneReceiver() {
    return std::make_unique<CpuFrameHostReceiver<NdiReceiver, &NdiReceiver::SetBandwidth>>();
}

}  // namespace

// The command line is read wide by RunHost: this one is in the ANSI code page.
int WINAPI WinMain(_In_ HINSTANCE instance, _In_opt_ HINSTANCE /*previous*/, _In_ LPSTR /*ansi*/,
                   _In_ int /*showCommand*/) {
    return RunHost(instance, HostKind::Tivane, &CreateTivaneReceiver);
}
