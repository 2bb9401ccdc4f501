#include "host_kind.h"

const HostTraits& TraitsOf(HostKind kind) {
    static const HostTraits kParlex{"Parlex", L"ParlexWindowClass", L"Parlex", "--address=", true};
    static const HostTraits kTivane{"Tivane", L"TivaneWindowClass", L"Tivane", "--ndiName=", true};
    static const HostTraits kGrelm{"Grelm", L"GrelmWindowClass", L"Grelm", "--senderName=", false};
    switch (kind) {
        case HostKind::Parlex:
            return kParlex;
        case HostKind::Tivane:
            return kTivane;
        case HostKind::Grelm:
            break;
    }
    return kGrelm;
}
