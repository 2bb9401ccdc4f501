// What differs between the three hosts, in one table. Win32-free.
#pragma once

enum class HostKind { Parlex, Tivane, Grelm };

struct HostTraits {
    const char* name;            // "Parlex", also the NDI receiver name of Tivane
    const wchar_t* windowClass;  // registered window class
    const wchar_t* windowTitle;
    const char* sourceOption;     // "--address=" ...
    const char* sourceField;      // "address" ... (diagnostics)
    bool hasQuality;              // Grelm has none
    unsigned receiverStopWaitMs;  // longest wait of the receiver's Stop
};

const HostTraits& TraitsOf(HostKind kind);
