#include "comms/ftp/ftp_command_queue.h"

#include "framework/exception.h"

namespace qv {

void FtpCommandQueue::Push(const std::string& command) {
    if (count_ >= kCapacity) {
        count_ = 0;
        throw Exception("FTP Command stack full");
    }
    items_[count_++] = command;
}

std::optional<std::string> FtpCommandQueue::PopNext() {
    if (count_ == 0) return std::nullopt;
    --count_;
    return items_[count_];
}

}  // namespace qv
