// A scriptable Spout sender for testing Grelm: publishes the named sender record (a
// 280-byte file mapping), enters its name in the Spout sender list as a real sender does
// (and takes it out again when it closes or ends) and, where the platform can share
// textures, shares a texture with a moving picture. Single-threaded console program; steps
// run in command-line order. See --help.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <d3d11.h>
#include <dxgi.h>
#include <wrl/client.h>

#include "sender_names.h"
#include "sender_record.h"
#include "test_pattern.h"
#include "win_types.h"

using Microsoft::WRL::ComPtr;

namespace {

const char kHelp[] =
    "usage: spout_sender --name=NAME STEP...\n"
    "Steps run in order:\n"
    "  --format=F      format of the next shared texture: bgra8 (default), rgba8, rgb10a2,\n"
    "                  rgba16f, rgba32f\n"
    "  --size=WxH      share a new texture of WxH (new handle) and publish its record;\n"
    "                  where textures cannot be shared (Wine), only the size is kept\n"
    "  --handle=V      publish V (decimal or 0x hex) as the handle with the current size,\n"
    "                  without a real texture (for Wine)\n"
    "  --record=H,W,G  publish a raw record: handle H, width W, height G (may be invalid)\n"
    "  --run=MS        keep drawing the moving picture for MS milliseconds\n"
    "  --hold=MS       keep the record and the texture for MS milliseconds, drawing nothing\n"
    "                  (the picture stays as it was drawn last)\n"
    "  --close         close the record and the texture; a later step publishes anew\n"
    "The name is entered in the sender list (SpoutSenderNames) when the record is first\n"
    "published, and taken out again at --close and when the program ends.\n"
    "Exit code 0 when every step worked, 1 otherwise. Progress goes to stdout.\n";

// The sender's entry in the Spout sender list: the list mapping (made by the first sender,
// at 64 names) is kept open while the name is in it, and changed only under the list's
// mutex.
class SenderListEntry {
public:
    ~SenderListEntry() { Leave(); }

    void Enter(const std::string& name) {
        mutex_.Reset(
            CreateMutexA(nullptr, FALSE, (std::string(kSenderListName) + "_mutex").c_str()));
        list_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       static_cast<DWORD>(kDefaultMaxSenders * kSenderNameBytes),
                                       kSenderListName));
        const bool entered = Edit([&name](unsigned char* bytes, size_t size) {
            return AddSenderName(bytes, size, name);
        });
        std::printf("%s '%s' in the sender list\n", entered ? "entered" : "could not enter",
                    name.c_str());
        std::fflush(stdout);
        name_ = entered ? name : std::string();
    }

    void Leave() {
        if (!name_.empty()) {
            const std::string name = name_;
            Edit([&name](unsigned char* bytes, size_t size) {
                RemoveSenderName(bytes, size, name);
                return true;
            });
            std::printf("took '%s' out of the sender list\n", name.c_str());
            std::fflush(stdout);
            name_.clear();
        }
        list_.Reset();
        mutex_.Reset();
    }

private:
    template <typename Change>
    bool Edit(Change change) {
        if (!list_ || !mutex_) {
            return false;
        }
        void* view = MapViewOfFile(list_.Get(), FILE_MAP_WRITE, 0, 0, 0);
        if (view == nullptr) {
            return false;
        }
        MEMORY_BASIC_INFORMATION region = {};
        const size_t size = VirtualQuery(view, &region, sizeof region) == sizeof region
                                ? static_cast<size_t>(region.RegionSize)
                                : 0;
        const DWORD waited = WaitForSingleObject(mutex_.Get(), 1000);
        const bool locked = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        const bool changed = locked && change(static_cast<unsigned char*>(view), size);
        if (locked) {
            ReleaseMutex(mutex_.Get());
        }
        UnmapViewOfFile(view);
        return changed;
    }

    std::string name_;  // while it is in the list
    UniqueHandle list_;
    UniqueHandle mutex_;
};

class Sender {
public:
    explicit Sender(std::string name) : name_(std::move(name)) {}

    bool Step(const std::string& arg);

private:
    bool Publish(const SenderRecord& record);
    bool ShareTexture(int width, int height);
    bool Run(unsigned milliseconds);
    void Close();
    bool EnsureDevice();
    void DrawFrame();

    std::string name_;
    PatternFormat format_ = PatternFormat::B8G8R8A8;
    int width_ = 640;
    int height_ = 360;
    int frame_ = 0;
    UniqueHandle mapping_;
    SenderListEntry listEntry_;  // after mapping_: leaves the list before the record closes
    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<ID3D11Texture2D> texture_;
};

bool Starts(const std::string& arg, const char* key, std::string& value) {
    const size_t length = std::strlen(key);
    if (arg.compare(0, length, key) != 0) {
        return false;
    }
    value = arg.substr(length);
    return true;
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || parsed > 0xFFFFFFFFull) {
        return false;
    }
    value = static_cast<uint32_t>(parsed);
    return true;
}

bool ParseSize(const std::string& text, int& width, int& height) {
    uint32_t w = 0, h = 0;
    const size_t x = text.find('x');
    if (x == std::string::npos || !ParseNumber(text.substr(0, x), w) ||
        !ParseNumber(text.substr(x + 1), h) || w < 1 || h < 1 || w > kMaxSenderSide ||
        h > kMaxSenderSide) {
        return false;
    }
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

bool ParseRecord(const std::string& text, SenderRecord& record) {
    const size_t first = text.find(',');
    const size_t second = first == std::string::npos ? first : text.find(',', first + 1);
    return second != std::string::npos && ParseNumber(text.substr(0, first), record.handle) &&
           ParseNumber(text.substr(first + 1, second - first - 1), record.width) &&
           ParseNumber(text.substr(second + 1), record.height);
}

bool Sender::Step(const std::string& arg) {
    std::string value;
    if (Starts(arg, "--format=", value)) {
        return ParsePatternFormat(value.c_str(), format_);
    }
    if (Starts(arg, "--size=", value)) {
        return ParseSize(value, width_, height_) && ShareTexture(width_, height_);
    }
    if (Starts(arg, "--handle=", value)) {
        SenderRecord record;
        record.width = static_cast<uint32_t>(width_);
        record.height = static_cast<uint32_t>(height_);
        record.format = static_cast<uint32_t>(format_);
        return ParseNumber(value, record.handle) && Publish(record);
    }
    if (Starts(arg, "--record=", value)) {
        SenderRecord record;
        return ParseRecord(value, record) && Publish(record);
    }
    if (Starts(arg, "--run=", value)) {
        uint32_t milliseconds = 0;
        return ParseNumber(value, milliseconds) && Run(milliseconds);
    }
    if (Starts(arg, "--hold=", value)) {
        uint32_t milliseconds = 0;
        if (!ParseNumber(value, milliseconds)) {
            return false;
        }
        Sleep(milliseconds);
        return true;
    }
    if (arg == "--close") {
        Close();
        return true;
    }
    return false;
}

bool Sender::Publish(const SenderRecord& record) {
    if (!mapping_) {
        mapping_.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(kSenderMappingBytes), name_.c_str()));
        if (!mapping_) {
            std::printf("cannot create mapping '%s' (error %lu)\n", name_.c_str(), GetLastError());
            return false;
        }
        listEntry_.Enter(name_);
    }
    void* view = MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, kSenderMappingBytes);
    if (view == nullptr) {
        return false;
    }
    EncodeSenderRecord(record, static_cast<unsigned char*>(view));
    UnmapViewOfFile(view);
    std::printf("published '%s': handle=0x%08X size=%ux%u format=%u\n", name_.c_str(),
                record.handle, record.width, record.height, record.format);
    std::fflush(stdout);
    return true;
}

bool Sender::EnsureDevice() {
    if (device_) {
        return true;
    }
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    return SUCCEEDED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1,
                                       D3D11_SDK_VERSION, &device_, nullptr, &context_));
}

bool Sender::ShareTexture(int width, int height) {
    texture_.Reset();
    if (!EnsureDevice()) {
        std::printf("no Direct3D 11 device\n");
        return false;
    }
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = static_cast<UINT>(width);
    desc.Height = static_cast<UINT>(height);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = static_cast<DXGI_FORMAT>(format_);
    desc.SampleDesc = {1, 0};
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
    desc.MiscFlags = D3D11_RESOURCE_MISC_SHARED;
    ComPtr<IDXGIResource> resource;
    HANDLE shared = nullptr;
    if (FAILED(device_->CreateTexture2D(&desc, nullptr, &texture_)) ||
        FAILED(texture_.As(&resource)) || FAILED(resource->GetSharedHandle(&shared)) ||
        shared == nullptr) {
        // Wine cannot share textures: keep the size for a later --handle step.
        std::printf("cannot share a %dx%d texture here; size kept for --handle\n", width, height);
        std::fflush(stdout);
        texture_.Reset();
        return true;
    }
    DrawFrame();
    SenderRecord record;
    record.handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(shared));
    record.width = static_cast<uint32_t>(width);
    record.height = static_cast<uint32_t>(height);
    record.format = static_cast<uint32_t>(format_);
    return Publish(record);
}

void Sender::DrawFrame() {
    if (!texture_) {
        return;
    }
    std::vector<unsigned char> pixels = RenderPattern(format_, width_, height_, frame_++);
    context_->UpdateSubresource(texture_.Get(), 0, nullptr, pixels.data(),
                                static_cast<UINT>(width_ * BytesPerPixel(format_)), 0);
    context_->Flush();
}

bool Sender::Run(unsigned milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (GetTickCount64() < end) {
        DrawFrame();
        Sleep(16);
    }
    return true;
}

void Sender::Close() {
    listEntry_.Leave();
    mapping_.Reset();
    texture_.Reset();
    std::printf("closed '%s'\n", name_.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    std::string name;
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (Starts(argv[i], "--name=", value)) {
            name = value;
        }
    }
    if (name.empty()) {
        std::fputs(kHelp, stderr);
        return 1;
    }
    Sender sender(name);
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (Starts(argv[i], "--name=", value)) {
            continue;
        }
        if (!sender.Step(argv[i])) {
            std::printf("step failed: %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
