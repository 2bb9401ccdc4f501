#include "command_handler.h"

#include "log.h"
#include "quality.h"
#include "window_sizing.h"

namespace {

void HandleSetSource(HostKind kind, const JsonObject& command, int& remembered,
                     ReceiverControl& receiver) {
    const std::string& name = command.Get("name");
    if (kind == HostKind::Grelm) {
        HostLog("[PipeCommand] set_source name='%s'", name.c_str());
        if (!name.empty()) {
            receiver.Stop();
            receiver.Start(name, 0);
        }
        return;
    }
    int quality = SetSourceQuality(kind, command.Get("quality"), remembered);
    HostLog(kind == HostKind::Parlex ? "[PipeCommand] set_source addr='%s', quality=%d"
                                     : "[PipeCommand] set_source name='%s', quality=%d",
            name.c_str(), quality);
    if (name.empty()) {
        return;  // the current reception goes on untouched
    }
    receiver.Stop();
    receiver.Start(name, quality);
}

}  // namespace

void HandleCommand(HostKind kind, const JsonObject& command, int& rememberedQuality,
                   ReceiverControl& receiver) {
    const std::string& type = command.Get("type");
    HostLog("[PipeCommand] type='%s'", type.c_str());
    if (type == "set_source") {
        HandleSetSource(kind, command, rememberedQuality, receiver);
    } else if (type == "set_quality" && TraitsOf(kind).hasQuality) {
        receiver.SetQuality(SetQualityValue(kind, command.Get("quality"), rememberedQuality));
    } else if (type == "list_sources") {
        receiver.ListSources();
    } else if (type == "window_size") {
        bool kept = false;
        if (ReadWindowSizeMode(command.Get("mode"), kept)) {
            receiver.KeepWindowSize(kept);
        }
    } else if (type == "shutdown") {
        receiver.Stop();
        receiver.RequestQuit();
    }
}
