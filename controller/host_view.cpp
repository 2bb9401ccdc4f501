#include "host_view.h"

#include <string>

#include "host_commands.h"
#include "view_core.h"

HostView::HostView(HostProcess& host)
    : host_(host), core_(std::make_unique<ViewCore>(MakeSystemViewSystem(), [this](bool kept) {
          host_.SendLine(WindowSizeCommand(kept));  // a host that has ended needs nothing
      })) {}

HostView::~HostView() {
    core_->Close();
    host_.WatchFrameSizes(nullptr);
}

HostResult HostView::Show(HWND container, const RECT& rect, ViewFit fit, unsigned ways) {
    HostResult result;
    HostReady ready;
    if (host_.HasExited()) {
        result.error = HostError::WrongState;
        result.reason = "the host has ended";
        return result;
    }
    if (!host_.Started() || !host_.WaitForReady(0, &ready)) {
        result.error = HostError::WrongState;
        result.reason = "the host has not announced its window (no host_ready yet)";
        return result;
    }
    if (!IsWindow(container) || (ways & kViewByAnyWay) == 0) {
        result.error = HostError::InvalidArgument;
        result.reason = IsWindow(container) ? "no way to show the picture was allowed"
                                            : "the container is not a window";
        return result;
    }
    ViewCore* core = core_.get();
    host_.WatchFrameSizes([core](const HostEvent& event) {
        core->FrameSizeReported(event.width, event.height, event.type == HostEventType::Stats);
    });
    std::string why;
    if (!core_->Show(ready.window, container, rect, fit, ways, why)) {
        result.error = HostError::WrongState;
        result.reason = "the picture cannot be shown: " + why;
    }
    return result;
}

HostResult HostView::Hide() {
    core_->Hide();
    return HostResult();
}

void HostView::Close() {
    core_->Close();
}

ViewState HostView::state() const {
    return core_->state();
}
