// Prints the frame rate NdiReceiver sustains against the simulated runtime when its frame
// callback copies every frame, as the host's does. Not a test: it only reports figures.
//   ndi_receive_benchmark [source] [seconds]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ndi_receiver.h"
#include "test_files.h"

int main(int argc, char** argv) {
    const char* source = argc > 1 ? argv[1] : "pattern:1920x1080@60";
    int seconds = argc > 2 ? std::atoi(argv[2]) : 4;
    UseRuntimeFrom(SimDir());
    auto receiver = NdiReceiver::Create();
    if (!receiver->Initialize()) {
        std::printf("simulated runtime not found in %s\n", SimDir().c_str());
        return 1;
    }
    std::vector<unsigned char> copy;
    receiver->SetFrameCallback([&copy](const unsigned char* pixels, int, int height, int stride) {
        size_t bytes = static_cast<size_t>(height) * static_cast<size_t>(stride);
        copy.resize(bytes);
        std::memcpy(copy.data(), pixels, bytes);
    });
    receiver->SetStatsCallback([](float fps, int width, int height) {
        std::printf("stats: %.2f fps, %dx%d\n", fps, width, height);
    });
    receiver->Start(source, 100);
    Sleep(static_cast<DWORD>(seconds) * 1000 + 200);
    receiver->Stop();
    return 0;
}
