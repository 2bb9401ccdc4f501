// The main thread's side of the frame slot's ring (frame_slot.h): which texture is shown,
// a new ring when the presenter has uploaded a frame of a new size, mapping textures for
// the worker, releasing retired ones. Used by frame_slot.cpp only.
#pragma once

#include "frame_slot.h"

// After a frame notification was handled. `taken` is the texture taken for drawing, if
// any: shown now, or dropped.
void KeepRingGoing(FrameSlot& slot, FramePresenter& presenter, FrameTexture* taken);
