// What differs between the three hosts, in one table. Win32-free.
#pragma once

enum class HostKind { Parlex, Tivane, Grelm };

struct HostTraits {
    const char* name;            // "Parlex" ...
    const wchar_t* windowClass;  // registered window class
    const wchar_t* windowTitle;
    const char* sourceOption;  // "--address=" ...
    bool hasQuality;           // Grelm has none
};

const HostTraits& TraitsOf(HostKind kind);
