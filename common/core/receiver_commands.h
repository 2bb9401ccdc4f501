// What commands do to a host's receiver: the part of a receiver that the command gate
// drives. Win32-free; the hosts' receivers implement it (host_receiver.h), the tests fake it.
#pragma once

#include <string>

class ReceiverCommands {
public:
    virtual ~ReceiverCommands() = default;
    // Stops a running worker, then receives `source`. False when no worker was started now.
    virtual bool Start(const std::string& source, int quality) = 0;
    virtual void Stop() = 0;
    virtual void SetQuality(int quality) = 0;
};
