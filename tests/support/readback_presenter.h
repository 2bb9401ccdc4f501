// A FramePresenter that counts its presents and copies the back buffer to memory just
// before each one, so that tests can check what reached the window pixel for pixel.
// Main thread, like the presenter itself.
#pragma once

#include <vector>

#include <d3d11.h>

#include "frame_presenter.h"

class ReadbackPresenter : public FramePresenter {
public:
    int presents = 0;
    // The picture of the last present: its size and tightly packed BGRA rows.
    int width = 0;
    int height = 0;
    std::vector<unsigned char> picture;

    // The current back buffer, only for comparing its identity; null before Initialize.
    ID3D11Texture2D* BackBuffer() const;

protected:
    void Present() override;

private:
    void ReadBack();
};
