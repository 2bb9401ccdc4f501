// Textures the tests draw from: default-usage, shader-readable, one mip level, optionally
// filled. On the thread that owns the device's immediate context, like any D3D11 call.
#pragma once

#include <d3d11.h>
#include <wrl/client.h>

// Null when the device refuses the format or size. `pixels` (rows `pitch` bytes apart)
// or nullptr for undefined contents.
Microsoft::WRL::ComPtr<ID3D11Texture2D> MakeTestTexture(ID3D11Device* device, DXGI_FORMAT format,
                                                        int width, int height,
                                                        const void* pixels = nullptr,
                                                        int pitch = 0);
