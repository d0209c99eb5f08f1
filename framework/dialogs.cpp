#include "framework/dialogs.h"

namespace qv {

namespace {
MessageDlgHandler& Handler() {
    static MessageDlgHandler handler;
    return handler;
}
}  // namespace

MessageDlgHandler SetMessageDlgHandler(MessageDlgHandler handler) {
    MessageDlgHandler old = std::move(Handler());
    Handler() = std::move(handler);
    return old;
}

int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons) {
    if (!Handler()) return mrNone;
    return Handler()(text, type, buttons);
}

void ShowMessage(const std::string& text) { MessageDlg(text, MsgDlgType::mtCustom, mbOK); }

}  // namespace qv
