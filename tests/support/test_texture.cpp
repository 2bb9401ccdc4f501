#include "test_texture.h"

Microsoft::WRL::ComPtr<ID3D11Texture2D> MakeTestTexture(ID3D11Device* device, DXGI_FORMAT format,
                                                        int width, int height, const void* pixels,
                                                        int pitch) {
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = static_cast<UINT>(width);
    desc.Height = static_cast<UINT>(height);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = format;
    desc.SampleDesc = {1, 0};
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    D3D11_SUBRESOURCE_DATA data = {pixels, static_cast<UINT>(pitch), 0};
    Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
    device->CreateTexture2D(&desc, pixels ? &data : nullptr, &texture);
    return texture;
}
