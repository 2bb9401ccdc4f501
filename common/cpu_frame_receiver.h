// The frame-slot half of a pixel-row host (Parlex, Tivane): the FrameCallback copies into
// the slot, the main thread draws from it. Hosts derive their receiver adapter from it.
#pragma once

#include "frame_slot.h"
#include "host_receiver.h"
#include "receiver_callbacks.h"

class CpuFrameHostReceiver : public HostReceiver {
public:
    void OnFrameNotification(FramePresenter& presenter) override {
        DrawPendingFrame(slot_, presenter);
    }
    void ReleaseFrames() override { FreeFramePixels(slot_); }

protected:
    FrameCallback MakeFrameCallback(HWND window) {
        return [this, window](const unsigned char* pixels, int width, int height, int strideBytes) {
            StoreFrame(slot_, window, pixels, width, height, strideBytes);
        };
    }

private:
    FrameSlot slot_;
};
