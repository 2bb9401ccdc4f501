#include "frame_slot.h"

#include "frame_presenter.h"
#include "host_window.h"

using Microsoft::WRL::ComPtr;

FrameTexture::~FrameTexture() {
    if (data != nullptr) {
        context->Unmap(texture.Get(), 0);
    }
}

namespace {

FrameTexture& AsTexture(FrameBuffer& buffer) {
    return static_cast<FrameTexture&>(buffer);
}
const FrameTexture& AsTexture(const FrameBuffer& buffer) {
    return static_cast<const FrameTexture&>(buffer);
}

// The ring's buffers as textures of the presenter's device.
class PresenterSurface : public FrameSurface {
public:
    explicit PresenterSurface(FramePresenter& presenter) : presenter_(presenter) {}

    void DrawRows(const unsigned char* pixels, int width, int height, int strideBytes) override {
        if (presenter_.UploadFrame(pixels, width, height, strideBytes)) {
            presenter_.Render();
        }
    }
    bool DrawBuffer(FrameBuffer& buffer) override {
        FrameTexture& frame = AsTexture(buffer);
        frame.context->Unmap(frame.texture.Get(), 0);
        frame.data = nullptr;
        if (!OnDevice(frame)) {
            return false;
        }
        presenter_.ShowFrameTexture(frame.texture.Get(), frame.view.Get(), frame.width,
                                    frame.height);
        presenter_.Render();
        return true;
    }
    bool Shows(const FrameBuffer& buffer) const override {
        ID3D11Texture2D* current = presenter_.frameTexture();
        return current != nullptr && AsTexture(buffer).texture.Get() == current;
    }
    std::unique_ptr<FrameBuffer> ShownTexture() override {
        if (presenter_.frameTexture() == nullptr) {
            return nullptr;
        }
        auto shown = std::make_unique<FrameTexture>();
        shown->context = presenter_.context();
        shown->texture = presenter_.frameTexture();
        shown->view = presenter_.frameView();
        shown->width = presenter_.textureWidth();
        shown->height = presenter_.textureHeight();
        return shown;
    }
    std::unique_ptr<FrameBuffer> CreateBuffer(int width, int height) override {
        auto buffer = std::make_unique<FrameTexture>();
        if (!presenter_.CreateFrameTexture(width, height, buffer->texture, buffer->view)) {
            return nullptr;
        }
        buffer->context = presenter_.context();
        buffer->width = width;
        buffer->height = height;
        return buffer;
    }
    bool MapBuffer(FrameBuffer& buffer) override {
        D3D11_MAPPED_SUBRESOURCE mapped = {};
        if (!presenter_.MapFrameTexture(AsTexture(buffer).texture.Get(), mapped)) {
            return false;
        }
        buffer.data = static_cast<unsigned char*>(mapped.pData);
        buffer.rowPitch = mapped.RowPitch;
        return true;
    }
    bool Foreign(const FrameBuffer& buffer) const override {
        return AsTexture(buffer).context.Get() != presenter_.context();
    }

private:
    bool OnDevice(const FrameTexture& frame) const {
        ComPtr<ID3D11Device> owner;
        frame.texture->GetDevice(&owner);
        return presenter_.device() != nullptr && owner.Get() == presenter_.device();
    }

    FramePresenter& presenter_;
};

}  // namespace

void StoreFrame(FrameSlot& slot, HWND window, const unsigned char* pixels, int width, int height,
                int strideBytes) {
    if (StoreFrameRows(slot, pixels, width, height, strideBytes) &&
        !PostMessageW(window, kFrameNotification, 0, 0)) {
        NotificationNotPosted(slot);
    }
}

void DrawPendingFrame(FrameSlot& slot, FramePresenter& presenter) {
    PresenterSurface surface(presenter);
    DrawPendingFrame(slot, surface);
}
