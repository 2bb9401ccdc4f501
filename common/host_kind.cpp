#include "host_kind.h"

const HostTraits& TraitsOf(HostKind kind) {
    static const HostTraits kParlex{
        "Parlex", L"ParlexWindowClass", L"Parlex", "--address=", "address", true, 5000};
    static const HostTraits kTivane{
        "Tivane", L"TivaneWindowClass", L"Tivane", "--ndiName=", "ndiName", true, 3000};
    static const HostTraits kGrelm{
        "Grelm", L"GrelmWindowClass", L"Grelm", "--senderName=", "senderName", false, 3000};
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
