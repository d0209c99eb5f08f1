// Modal message dialogs that portable code may show (the translation
// component asks questions when languages or positions are dropped).
//
// Portable code calls MessageDlg/ShowMessage; the Win32 layer installs a
// handler that shows a real message box through Application::ShowMessageBox
// (so tests answer them with Application::OnMessageBox); native tests
// install their own handler. With no handler a dialog answers mrNone.
#pragma once

#include <functional>
#include <string>

namespace qv {

enum class MsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Buttons, combined with |.
enum MsgDlgButtons : unsigned {
    mbYes = 1u << 0,
    mbNo = 1u << 1,
    mbOK = 1u << 2,
    mbCancel = 1u << 3,
};
inline constexpr unsigned mbYesNo = mbYes | mbNo;
inline constexpr unsigned mbOKCancel = mbOK | mbCancel;

// Answers; the values are those of the Win32 dialog box command ids.
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

using MessageDlgHandler = std::function<int(const std::string& text, MsgDlgType type, unsigned buttons)>;

// Replaces the handler; returns the previous one.
MessageDlgHandler SetMessageDlgHandler(MessageDlgHandler handler);

int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons);
// A plain box with one OK button.
void ShowMessage(const std::string& text);

}  // namespace qv
