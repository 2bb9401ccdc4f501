// The pipe writer's channel on Windows: one overlapped WriteFile at a time on the host's
// end of its named pipe, waited for together with a stop event. The channel holds the pipe
// handle open and lives as long as its writer thread, so that a write never lands in freed
// memory or on a closed handle.
#pragma once

#include <memory>

#include "win_types.h"
#include "write_channel.h"

class PipeWriteChannel : public WriteChannel {
public:
    explicit PipeWriteChannel(std::shared_ptr<UniqueHandle> pipe);

    // Whether its events could be made.
    bool Valid() const { return writeEvent_ && stop_; }

    bool Begin(const char* data, size_t size) override;
    Outcome Await(unsigned boundMs, size_t& taken) override;
    void Cancel(size_t& taken) override;
    void Interrupt() override;

private:
    HANDLE Pipe() const { return pipe_->Get(); }

    std::shared_ptr<UniqueHandle> pipe_;
    UniqueHandle writeEvent_;  // manual-reset: the write in flight has ended
    UniqueHandle stop_;        // manual-reset: set once, by Interrupt
    OVERLAPPED overlapped_ = {};
};
