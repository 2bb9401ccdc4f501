#include "view_system.h"

bool ViewSystem::ThumbnailsAvailable() {
    BOOL enabled = FALSE;
    return SUCCEEDED(DwmIsCompositionEnabled(&enabled)) && enabled;
}

HTHUMBNAIL ViewSystem::RegisterThumbnail(HWND destination, HWND source) {
    HTHUMBNAIL thumbnail = nullptr;
    if (FAILED(DwmRegisterThumbnail(destination, source, &thumbnail))) {
        return nullptr;
    }
    return thumbnail;
}

bool ViewSystem::UpdateThumbnail(HTHUMBNAIL thumbnail, const DWM_THUMBNAIL_PROPERTIES& properties) {
    return SUCCEEDED(DwmUpdateThumbnailProperties(thumbnail, &properties));
}

void ViewSystem::UnregisterThumbnail(HTHUMBNAIL thumbnail) {
    DwmUnregisterThumbnail(thumbnail);
}

bool ViewSystem::SetOwner(HWND window, HWND owner) {
    // The owner of a top-level window is its GWLP_HWNDPARENT; SetParent would make it a
    // child instead.
    SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    return GetWindow(window, GW_OWNER) == owner;
}

bool ViewSystem::SetParentWindow(HWND window, HWND parent) {
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    if (parent == nullptr) {
        SetParent(window, nullptr);
        SetWindowLongPtrW(window, GWL_STYLE, (style & ~static_cast<LONG_PTR>(WS_CHILD)) | WS_POPUP);
        return GetAncestor(window, GA_PARENT) == GetDesktopWindow();
    }
    SetWindowLongPtrW(window, GWL_STYLE, (style & ~static_cast<LONG_PTR>(WS_POPUP)) | WS_CHILD);
    if (SetParent(window, parent) == nullptr || GetAncestor(window, GA_PARENT) != parent) {
        SetWindowLongPtrW(window, GWL_STYLE, style);
        return false;
    }
    return true;
}

std::shared_ptr<ViewSystem> MakeSystemViewSystem() {
    return std::make_shared<ViewSystem>();
}
