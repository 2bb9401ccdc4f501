#include "secure_pipe.h"

#include <bcrypt.h>

#include <cstdio>
#include <vector>

#include "win_text.h"

namespace {

// A security descriptor whose only entry gives the current user full access. Holds the
// memory the descriptor points into.
class CurrentUserOnly {
public:
    bool Build(DWORD& error) {
        UniqueHandle token;
        HANDLE raw = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
            error = GetLastError();
            return false;
        }
        token.Reset(raw);
        DWORD size = 0;
        GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
        user_.resize(size);
        if (size == 0 || !GetTokenInformation(token.Get(), TokenUser, user_.data(), size, &size)) {
            error = GetLastError();
            return false;
        }
        PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        auto* acl = reinterpret_cast<ACL*>(acl_.data());
        if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) ||
            !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
            !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
            error = GetLastError();
            return false;
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
        return true;
    }

    SECURITY_ATTRIBUTES* attributes() { return &attributes_; }

private:
    std::vector<BYTE> user_;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace

bool MakeUnguessablePipeName(const std::string& prefix, std::string& name) {
    unsigned char random[16];
    if (!BCRYPT_SUCCESS(
            BCryptGenRandom(nullptr, random, sizeof random, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return false;
    }
    char text[2 * sizeof random + 1];
    for (size_t i = 0; i < sizeof random; ++i) {
        std::snprintf(text + 2 * i, 3, "%02x", random[i]);
    }
    name = prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" + text;
    return true;
}

UniqueHandle CreateHostPipe(const std::string& name, DWORD bufferBytes, DWORD& error) {
    CurrentUserOnly security;
    if (!security.Build(error)) {
        return UniqueHandle();
    }
    std::wstring wideName;
    if (!ToWide(name, wideName)) {
        error = ERROR_INVALID_NAME;
        return UniqueHandle();
    }
    std::wstring path = L"\\\\.\\pipe\\" + wideName;
    UniqueHandle pipe(CreateNamedPipeW(
        path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
        bufferBytes, bufferBytes, 0, security.attributes()));
    if (!pipe) {
        error = GetLastError();
        return pipe;
    }
    // Wine ignores FILE_FLAG_FIRST_PIPE_INSTANCE (and a squatter's larger instance limit),
    // so the count of instances is checked as well: ours must be the only one.
    DWORD instances = 0;
    if (GetNamedPipeHandleStateW(pipe.Get(), nullptr, &instances, nullptr, nullptr, nullptr, 0) &&
        instances != 1) {
        error = ERROR_ALREADY_EXISTS;
        pipe.Reset();
        return pipe;
    }
    error = ERROR_SUCCESS;
    return pipe;
}

bool ClientIsProcess(HANDLE pipe, DWORD processId) {
    ULONG client = 0;
    if (!GetNamedPipeClientProcessId(pipe, &client)) {
        return true;
    }
    return client == processId;
}
