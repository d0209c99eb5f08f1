// The queue of commands that wait for the reply that releases them. It is a
// stack: the command queued last goes out first, so an operation queues its
// chain from the last command to the first.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace qv {

class FtpCommandQueue {
public:
    static constexpr int kCapacity = 32;

    // Stores the command on top. When 32 are already queued, the count drops
    // to 0 (so none of them will be sent) and qv::Exception with the message
    // "FTP Command stack full" is raised.
    void Push(const std::string& command);

    // The command on top, taken off the queue; none when the queue is empty.
    std::optional<std::string> PopNext();

    void Clear() { count_ = 0; }
    int Count() const { return count_; }
    bool Empty() const { return count_ == 0; }

private:
    std::array<std::string, kCapacity> items_;
    uint8_t count_ = 0;
};

}  // namespace qv
