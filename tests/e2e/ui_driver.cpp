// ui_driver: drives a window of one of our programs from outside, as a user
// would, for end-to-end tests. A Windows console program; reads a script
// (a file, or standard input with "-") of one command per line and stops
// at the first failure with a message naming the line.
//
// Script syntax: words separated by blanks; "quoted texts" may hold blanks
// and the escapes \" \\ \r \n \t; texts are UTF-8. '#' starts a comment
// line. Every wait has a time limit in milliseconds (default 10000, or the
// last "timeout" command).
//
//   start <exe> [args...]         start the program (its folder is the
//                                 working folder); later commands look only
//                                 at its windows
//   timeout <ms>                  time limit of the waits that follow
//   wait-window <class>           wait until a visible top-level window of
//                                 that window class exists; it becomes the
//                                 current window
//   expect-text <control> <text>  wait until the control shows the text
//   expect-checked <control> 0|1  wait until the check box has that state
//   expect-match <control> <re>   wait until the whole text matches the
//                                 regular expression (ECMAScript, on UTF-8)
//   expect-lines <control> [<line>...]
//                                 wait until a memo holds exactly these
//                                 lines (its text split at CR LF; a line
//                                 end after the last line is not a line)
//   watch <control>               record every text the control shows from
//                                 now on (polled every 10 ms in the
//                                 background; texts shown for less time may
//                                 be missed)
//   expect-seen <control> <text>...
//                                 the watched control has shown these texts
//                                 in this order (others may lie between)
//   expect-seen-match <control> <re>
//                                 the watched control has shown a text that
//                                 matches the regular expression
//   expect-not-seen <control> <text>
//                                 the watched control never showed the text
//   print-seen <control>          the texts recorded so far (diagnostics)
//   click <control>               click a button or check box (BM_CLICK)
//   set-checked <control> 0|1     click the check box when its state differs
//   close                         the title bar's close box (SC_CLOSE)
//   expect-msgbox <text>          wait for a message box of the program
//                                 showing the text; it becomes the current
//                                 message box
//   expect-msgbox-caption <text>  the current message box's caption
//   expect-msgbox-owner <control> the current message box is owned by the
//                                 window ("."), or by no window ("none")
//   answer-msgbox <button>        OK, Cancel, Yes, No, Abort, Retry, Ignore
//   expect-no-msgbox <ms>         no message box appears within the time
//   wait-exit                     wait until the program has ended
//   expect-exit-code <n>          its exit code
//   print <control>               print the control's text (diagnostics)
//   print-rect <control>          print "rect <control> <left> <top> <width>
//                                 <height>" in screen pixels (the window's
//                                 frame for ".")
//   expect-rect <control> <left> <top> <width> <height> [<tolerance>]
//                                 the control's rectangle in the window's
//                                 client area, in device pixels ("." the
//                                 client area itself: 0 0 and its size),
//                                 each number within the tolerance
//                                 (default 0)
//   key <key>                     press and release a key (TAB, ESC, ENTER,
//                                 SPACE) in the program's focused control
//                                 (its window when no control has the
//                                 focus): WM_KEYDOWN and WM_KEYUP posted to
//                                 it, as the keyboard would queue them
//   expect-focus <control>        wait until the control has the keyboard
//                                 focus in the program
//   wait-file <path>              wait until the file exists (a script
//                                 outside can signal the driver this way);
//                                 its last part may hold the wildcards *
//                                 and ? (a file of a name only the program
//                                 knows)
//   expect-no-file <path>         no file of that name exists now (the
//                                 last part may hold * and ?)
//   hold-file <path>              open the file with no sharing at all and
//                                 keep it open (as another program holding
//                                 it), until release-file or the end
//   release-file <path>           close the file held
//   mark <text>                   print "mark <text>" (a script outside
//                                 can wait for it: the driver's signal)
//   sleep <ms>
//
// Controls are named by their component names: the program's forms answer
// the registered message "QvFindControl" (wParam: a global atom holding the
// name) with the control's window handle. "." names the current window
// itself (its caption). Status bars are read with SB_GETTEXT (simple text
// or panel 0) through memory in the program's process; other controls with
// WM_GETTEXT.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring Utf8ToWide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// A file (or folder) of that name exists; the last part may hold * and ?.
bool FileMatchExists(const std::wstring& pattern) {
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
}

std::string WideToUtf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

// Shows control characters so a failure message is readable.
std::string Visible(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '"') out += "\\\"";
        else out += c;
    }
    return out + "\"";
}

struct Failure {
    std::string message;
};

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size()) break;
        std::string w;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < line.size()) {
                    char e = line[i++];
                    switch (e) {
                        case 'r': w += '\r'; break;
                        case 'n': w += '\n'; break;
                        case 't': w += '\t'; break;
                        default: w += e; break;
                    }
                } else {
                    w += c;
                }
            }
            if (!closed) throw Failure{"unterminated quoted text"};
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') w += line[i++];
        }
        words.push_back(w);
    }
    return words;
}

// Records the texts a control shows, polling in a thread of its own.
struct Watch {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<std::string> seen;  // successive distinct texts
    std::string error;              // why polling ended early, if it did
};

class Driver {
public:
    ~Driver() {
        for (auto& [path, h] : held_) CloseHandle(h);
        for (auto& [name, w] : watches_) {
            w->stop = true;
            if (w->thread.joinable()) w->thread.join();
        }
        if (process_.hProcess) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
                std::cout << "note: ending the program that is still running\n";
                TerminateProcess(process_.hProcess, 99);
                WaitForSingleObject(process_.hProcess, 5000);
            }
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
    }

    void Run(const std::vector<std::string>& w) {
        const std::string& cmd = w[0];
        auto need = [&](size_t n) {
            if (w.size() != n + 1) throw Failure{cmd + " takes " + std::to_string(n) + " argument(s)"};
        };
        if (cmd == "start") {
            if (w.size() < 2) throw Failure{"start needs the program"};
            Start(w);
        } else if (cmd == "timeout") {
            need(1);
            timeout_ = std::stoul(w[1]);
        } else if (cmd == "wait-window") {
            need(1);
            WaitWindow(w[1]);
        } else if (cmd == "expect-text") {
            need(2);
            ExpectText(w[1], w[2]);
        } else if (cmd == "expect-checked") {
            need(2);
            ExpectChecked(w[1], w[2] == "1");
        } else if (cmd == "expect-match") {
            need(2);
            ExpectMatch(w[1], w[2]);
        } else if (cmd == "expect-lines") {
            if (w.size() < 2) throw Failure{"expect-lines needs the control"};
            ExpectLines(w[1], std::vector<std::string>(w.begin() + 2, w.end()));
        } else if (cmd == "watch") {
            need(1);
            StartWatch(w[1]);
        } else if (cmd == "expect-seen") {
            if (w.size() < 3) throw Failure{"expect-seen needs the control and at least one text"};
            ExpectSeen(w[1], std::vector<std::string>(w.begin() + 2, w.end()));
        } else if (cmd == "expect-seen-match") {
            need(2);
            std::regex re = Regex(w[2]);
            DWORD until = GetTickCount() + timeout_;
            for (;;) {
                bool found = false;
                for (const std::string& t : Seen(w[1])) found = found || std::regex_match(t, re);
                if (found) break;
                if (GetTickCount() >= until)
                    throw Failure{w[1] + " showed nothing that matches " + Visible(w[2]) + "; it showed:" + SeenList(w[1])};
                Sleep(50);
            }
        } else if (cmd == "expect-not-seen") {
            need(2);
            for (const std::string& t : Seen(w[1]))
                if (t == w[2]) throw Failure{w[1] + " showed " + Visible(w[2]) + SeenList(w[1])};
        } else if (cmd == "print-seen") {
            need(1);
            std::cout << w[1] << " showed:" << SeenList(w[1]) << "\n";
        } else if (cmd == "set-checked") {
            need(2);
            SetChecked(w[1], w[2] == "1");
        } else if (cmd == "click") {
            need(1);
            HWND h = Control(w[1]);
            if (!PostMessageW(h, BM_CLICK, 0, 0)) throw Failure{"cannot click " + w[1]};
        } else if (cmd == "close") {
            need(0);
            if (!PostMessageW(Window(), WM_SYSCOMMAND, SC_CLOSE, 0)) throw Failure{"cannot close the window"};
        } else if (cmd == "expect-msgbox") {
            need(1);
            ExpectMessageBox(w[1]);
        } else if (cmd == "expect-msgbox-caption") {
            need(1);
            std::string caption = Text(MessageBox());
            if (caption != w[1]) throw Failure{"message box caption is " + Visible(caption) + ", expected " + Visible(w[1])};
        } else if (cmd == "expect-msgbox-owner") {
            need(1);
            HWND owner = GetWindow(MessageBox(), GW_OWNER);
            HWND expected = w[1] == "none" ? nullptr : Control(w[1]);
            if (owner != expected)
                throw Failure{"the message box is owned by " + Describe(owner) + ", expected " + Describe(expected)};
        } else if (cmd == "answer-msgbox") {
            need(1);
            AnswerMessageBox(w[1]);
        } else if (cmd == "expect-no-msgbox") {
            need(1);
            DWORD until = GetTickCount() + std::stoul(w[1]);
            while (GetTickCount() < until) {
                if (HWND box = FindMessageBox()) throw Failure{"unexpected message box: " + Visible(MessageText(box))};
                Sleep(50);
            }
        } else if (cmd == "wait-exit") {
            need(0);
            if (!process_.hProcess) throw Failure{"no program was started"};
            if (WaitForSingleObject(process_.hProcess, timeout_) != WAIT_OBJECT_0) {
                std::string extra;
                if (HWND box = FindMessageBox()) extra = " (a message box shows " + Visible(MessageText(box)) + ")";
                throw Failure{"the program did not end within " + std::to_string(timeout_) + " ms" + extra};
            }
        } else if (cmd == "expect-exit-code") {
            need(1);
            DWORD code = 0;
            if (!process_.hProcess || WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0)
                throw Failure{"the program has not ended"};
            GetExitCodeProcess(process_.hProcess, &code);
            if (code != std::stoul(w[1])) throw Failure{"exit code " + std::to_string(code) + ", expected " + w[1]};
        } else if (cmd == "print") {
            need(1);
            std::cout << w[1] << ": " << Visible(ControlText(w[1])) << "\n";
        } else if (cmd == "print-rect") {
            need(1);
            RECT r{};
            if (!GetWindowRect(Control(w[1]), &r)) throw Failure{"cannot read the rectangle of " + w[1]};
            std::cout << "rect " << w[1] << " " << r.left << " " << r.top << " " << (r.right - r.left) << " "
                      << (r.bottom - r.top) << "\n";
        } else if (cmd == "expect-rect") {
            if (w.size() != 6 && w.size() != 7) throw Failure{"expect-rect takes 5 or 6 arguments"};
            ExpectRect(w[1], {std::stoi(w[2]), std::stoi(w[3]), std::stoi(w[4]), std::stoi(w[5])},
                       w.size() == 7 ? std::stoi(w[6]) : 0);
        } else if (cmd == "key") {
            need(1);
            PressKey(w[1]);
        } else if (cmd == "expect-focus") {
            need(1);
            ExpectFocus(w[1]);
        } else if (cmd == "wait-file") {
            need(1);
            DWORD until = GetTickCount() + timeout_;
            while (!FileMatchExists(Utf8ToWide(w[1]))) {
                if (GetTickCount() >= until) throw Failure{"no file " + w[1] + " within " + std::to_string(timeout_) + " ms"};
                CheckAlive("file " + w[1]);
                Sleep(50);
            }
        } else if (cmd == "expect-no-file") {
            need(1);
            if (FileMatchExists(Utf8ToWide(w[1]))) throw Failure{"there is a file " + w[1]};
        } else if (cmd == "hold-file") {
            need(1);
            HANDLE h = CreateFileW(Utf8ToWide(w[1]).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (h == INVALID_HANDLE_VALUE) throw Failure{"cannot hold " + w[1] + " (error " + std::to_string(GetLastError()) + ")"};
            if (held_.count(w[1])) CloseHandle(held_[w[1]]);
            held_[w[1]] = h;
        } else if (cmd == "release-file") {
            need(1);
            auto it = held_.find(w[1]);
            if (it == held_.end()) throw Failure{"no file " + w[1] + " is held"};
            CloseHandle(it->second);
            held_.erase(it);
        } else if (cmd == "mark") {
            need(1);
            std::cout << "mark " << w[1] << "\n" << std::flush;
        } else if (cmd == "sleep") {
            need(1);
            Sleep(std::stoul(w[1]));
        } else {
            throw Failure{"unknown command " + cmd};
        }
    }

private:
    // Files held open without sharing (hold-file), by their path.
    std::map<std::string, HANDLE> held_;

    void Start(const std::vector<std::string>& w) {
        std::wstring exe = Utf8ToWide(w[1]);
        std::wstring cmdline = L"\"" + exe + L"\"";
        for (size_t i = 2; i < w.size(); ++i) cmdline += L" \"" + Utf8ToWide(w[i]) + L"\"";
        std::wstring dir = exe;
        size_t slash = dir.find_last_of(L"\\/");
        dir = slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        if (!CreateProcessW(exe.c_str(), cmdline.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            dir.empty() ? nullptr : dir.c_str(), &si, &process_))
            throw Failure{"cannot start " + w[1] + " (error " + std::to_string(GetLastError()) + ")"};
        WaitForInputIdle(process_.hProcess, 5000);
    }

    bool Ours(HWND h) const {
        if (!process_.hProcess) return true;
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        return pid == process_.dwProcessId;
    }

    static std::string ClassOf(HWND h) {
        wchar_t buf[256] = {};
        GetClassNameW(h, buf, 255);
        return WideToUtf8(buf);
    }

    HWND FindTopLevel(const std::string& cls, bool visibleOnly) const {
        struct Ctx {
            const Driver* self;
            std::string cls;
            bool visibleOnly;
            HWND found;
        } ctx{this, cls, visibleOnly, nullptr};
        EnumWindows(
            [](HWND h, LPARAM p) -> BOOL {
                auto* c = reinterpret_cast<Ctx*>(p);
                if (!c->self->Ours(h) || ClassOf(h) != c->cls) return TRUE;
                if (c->visibleOnly && !IsWindowVisible(h)) return TRUE;
                c->found = h;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&ctx));
        return ctx.found;
    }

    void CheckAlive(const std::string& waitingFor) const {
        if (process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_.hProcess, &code);
            throw Failure{"the program ended (exit code " + std::to_string(code) + ") while waiting for " + waitingFor};
        }
    }

    void WaitWindow(const std::string& cls) {
        DWORD until = GetTickCount() + timeout_;
        for (;;) {
            if (HWND h = FindTopLevel(cls, true)) {
                window_ = h;
                return;
            }
            if (GetTickCount() >= until) {
                std::string extra;
                if (HWND box = FindMessageBox()) extra = " (a message box shows " + Visible(MessageText(box)) + ")";
                throw Failure{"no visible window of class " + cls + " within " + std::to_string(timeout_) + " ms" + extra};
            }
            CheckAlive("window " + cls);
            Sleep(50);
        }
    }

    HWND Window() const {
        if (!window_ || !IsWindow(window_)) throw Failure{"no current window (wait-window first, or it was closed)"};
        return window_;
    }

    HWND Control(const std::string& name) const {
        HWND form = Window();
        if (name == ".") return form;
        static UINT findMessage = RegisterWindowMessageW(L"QvFindControl");
        DWORD until = GetTickCount() + timeout_;
        for (;;) {
            ATOM atom = GlobalAddAtomW(Utf8ToWide(name).c_str());
            DWORD_PTR result = 0;
            LRESULT ok = SendMessageTimeoutW(form, findMessage, atom, 0, SMTO_ABORTIFHUNG, 2000, &result);
            GlobalDeleteAtom(atom);
            if (ok && result) return reinterpret_cast<HWND>(result);
            if (ok) throw Failure{"the window has no control named " + name};
            if (GetTickCount() >= until) throw Failure{"the window does not answer (looking for " + name + ")"};
        }
    }

    std::string Text(HWND h) const {
        DWORD_PTR len = 0;
        if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &len)) throw Failure{"window does not answer"};
        std::wstring buf(len + 1, L'\0');
        DWORD_PTR got = 0;
        SendMessageTimeoutW(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, 3000, &got);
        buf.resize(got);
        return WideToUtf8(buf);
    }

    // SB_GETTEXT writes into the caller's buffer: the buffer must live in
    // the program's process. In simple mode the simple text is asked for
    // with SB_SIMPLEID; implementations that know no such index answer
    // part 0 with the simple text instead.
    std::string StatusText(HWND h) const {
        DWORD_PTR simple = 0;
        SendMessageTimeoutW(h, SB_ISSIMPLE, 0, 0, SMTO_ABORTIFHUNG, 3000, &simple);
        std::string text;
        if (simple && StatusPart(h, SB_SIMPLEID, text)) return text;
        StatusPart(h, 0, text);
        return text;
    }

    bool StatusPart(HWND h, WPARAM part, std::string& text) const {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        HANDLE proc = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (!proc) throw Failure{"cannot open the program's process to read its status bar"};
        const size_t capacity = 4096;
        void* remote = VirtualAllocEx(proc, nullptr, capacity * sizeof(wchar_t), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!remote) {
            CloseHandle(proc);
            throw Failure{"cannot reserve memory in the program's process"};
        }
        std::wstring buf(capacity, L'\0');
        WriteProcessMemory(proc, remote, buf.data(), capacity * sizeof(wchar_t), nullptr);
        DWORD_PTR result = 0;
        SendMessageTimeoutW(h, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 3000, &result);
        SIZE_T read = 0;
        ReadProcessMemory(proc, remote, buf.data(), capacity * sizeof(wchar_t), &read);
        VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
        CloseHandle(proc);
        buf.resize(wcsnlen(buf.c_str(), capacity - 1));
        text = WideToUtf8(buf);
        return result != 0 || !buf.empty();
    }

    std::string ControlText(const std::string& name) const {
        HWND h = Control(name);
        if (ClassOf(h) == "msctls_statusbar32") return StatusText(h);
        return Text(h);
    }

    void ExpectText(const std::string& name, const std::string& expected) {
        DWORD until = GetTickCount() + timeout_;
        std::string actual;
        for (;;) {
            actual = ControlText(name);
            if (actual == expected) return;
            if (GetTickCount() >= until) break;
            CheckAlive("text of " + name);
            Sleep(50);
        }
        throw Failure{name + " shows " + Visible(actual) + ", expected " + Visible(expected)};
    }

    static std::vector<std::string> SplitLines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos) {
                lines.push_back(text.substr(start));
                break;
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

    static std::string JoinVisible(const std::vector<std::string>& items) {
        std::string out = "[";
        for (size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + Visible(items[i]);
        return out + "]";
    }

    std::string Describe(HWND h) const {
        if (!h) return "no window";
        if (h == window_) return "the window";
        return "window of class " + ClassOf(h);
    }

    static std::regex Regex(const std::string& pattern) {
        try {
            return std::regex(pattern, std::regex::ECMAScript);
        } catch (const std::regex_error& e) {
            throw Failure{"bad regular expression " + Visible(pattern) + ": " + e.what()};
        }
    }

    void ExpectMatch(const std::string& name, const std::string& pattern) {
        std::regex re = Regex(pattern);
        DWORD until = GetTickCount() + timeout_;
        std::string actual;
        for (;;) {
            actual = ControlText(name);
            if (std::regex_match(actual, re)) return;
            if (GetTickCount() >= until) break;
            CheckAlive("text of " + name);
            Sleep(50);
        }
        throw Failure{name + " shows " + Visible(actual) + ", which does not match " + Visible(pattern)};
    }

    void ExpectLines(const std::string& name, const std::vector<std::string>& expected) {
        DWORD until = GetTickCount() + timeout_;
        std::vector<std::string> actual;
        for (;;) {
            actual = SplitLines(ControlText(name));
            if (actual == expected) return;
            if (GetTickCount() >= until) break;
            CheckAlive("lines of " + name);
            Sleep(50);
        }
        throw Failure{name + " holds " + JoinVisible(actual) + ", expected " + JoinVisible(expected)};
    }

    void StartWatch(const std::string& name) {
        if (watches_.count(name)) throw Failure{name + " is watched already"};
        HWND h = Control(name);
        auto w = std::make_unique<Watch>();
        Watch* watch = w.get();
        bool status = ClassOf(h) == "msctls_statusbar32";
        auto read = [this, h, status]() { return status ? StatusText(h) : Text(h); };
        watch->seen.push_back(read());
        watch->thread = std::thread([watch, read, h]() {
            while (!watch->stop) {
                if (!IsWindow(h)) break;
                try {
                    std::string t = read();
                    std::lock_guard<std::mutex> lock(watch->mutex);
                    if (t != watch->seen.back()) watch->seen.push_back(t);
                } catch (const Failure& f) {
                    // A window that is going away no longer answers.
                    if (!IsWindow(h)) break;
                    std::lock_guard<std::mutex> lock(watch->mutex);
                    watch->error = f.message;
                    break;
                }
                Sleep(10);
            }
        });
        watches_[name] = std::move(w);
    }

    std::vector<std::string> Seen(const std::string& name) {
        auto it = watches_.find(name);
        if (it == watches_.end()) throw Failure{name + " is not watched (watch it first)"};
        std::lock_guard<std::mutex> lock(it->second->mutex);
        if (!it->second->error.empty()) throw Failure{"watching " + name + " failed: " + it->second->error};
        return it->second->seen;
    }

    std::string SeenList(const std::string& name) {
        std::string out;
        for (const std::string& t : Seen(name)) out += "\n       " + Visible(t);
        return out;
    }

    // Waits (up to the time limit) until the texts have been seen in order.
    void ExpectSeen(const std::string& name, const std::vector<std::string>& expected) {
        DWORD until = GetTickCount() + timeout_;
        for (;;) {
            std::vector<std::string> seen = Seen(name);
            size_t next = 0;
            for (const std::string& t : seen)
                if (next < expected.size() && t == expected[next]) ++next;
            if (next == expected.size()) return;
            if (GetTickCount() >= until)
                throw Failure{name + " did not show " + Visible(expected[next]) + " (in the order given); it showed:" +
                              SeenList(name)};
            Sleep(50);
        }
    }

    void SetChecked(const std::string& name, bool wanted) {
        HWND h = Control(name);
        DWORD_PTR state = 0;
        SendMessageTimeoutW(h, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 3000, &state);
        if ((state == BST_CHECKED) != wanted && !PostMessageW(h, BM_CLICK, 0, 0)) throw Failure{"cannot click " + name};
        ExpectChecked(name, wanted);
    }

    void ExpectChecked(const std::string& name, bool expected) {
        DWORD until = GetTickCount() + timeout_;
        for (;;) {
            DWORD_PTR state = 0;
            SendMessageTimeoutW(Control(name), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 3000, &state);
            if ((state == BST_CHECKED) == expected) return;
            if (GetTickCount() >= until)
                throw Failure{name + " is " + (state == BST_CHECKED ? "checked" : "unchecked") + ", expected the other"};
            Sleep(50);
        }
    }

    // The program's keyboard focus: the focused window of the current
    // window's thread (another process's focus is asked of its thread).
    HWND Focus() const {
        DWORD thread = GetWindowThreadProcessId(Window(), nullptr);
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        if (!GetGUIThreadInfo(thread, &info)) throw Failure{"cannot read the program's focus"};
        return info.hwndFocus;
    }

    void PressKey(const std::string& name) {
        static const std::pair<const char*, UINT> kKeys[] = {
            {"TAB", VK_TAB}, {"ESC", VK_ESCAPE}, {"ESCAPE", VK_ESCAPE}, {"ENTER", VK_RETURN}, {"RETURN", VK_RETURN},
            {"SPACE", VK_SPACE}};
        UINT vk = 0;
        for (auto& [n, v] : kKeys)
            if (_stricmp(n, name.c_str()) == 0) vk = v;
        if (!vk) throw Failure{"unknown key " + name};
        HWND target = Focus();
        if (!target) target = Window();
        // lParam as the keyboard fills it: repeat count 1, the scan code,
        // and for the release the previous-state and transition bits.
        const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16;
        const LPARAM down = 1 | scan;
        const LPARAM up = down | (static_cast<LPARAM>(1) << 30) | (static_cast<LPARAM>(1) << 31);
        if (!PostMessageW(target, WM_KEYDOWN, vk, down) || !PostMessageW(target, WM_KEYUP, vk, up))
            throw Failure{"cannot send " + name + " to " + Describe(target)};
    }

    void ExpectFocus(const std::string& name) {
        HWND expected = Control(name);
        DWORD until = GetTickCount() + timeout_;
        HWND focus = nullptr;
        for (;;) {
            focus = Focus();
            if (focus == expected) return;
            if (GetTickCount() >= until) break;
            CheckAlive("the focus on " + name);
            Sleep(50);
        }
        throw Failure{"the focus is on " + FocusName(focus) + ", expected " + name};
    }

    // The focused window by its class and text.
    std::string FocusName(HWND focus) const {
        if (!focus) return "no window";
        return Describe(focus) + " " + Visible(Text(focus));
    }

    void ExpectRect(const std::string& name, const RECT& expected, int tolerance) {
        HWND h = Control(name);
        RECT r{};
        if (name == ".") {
            if (!GetClientRect(h, &r)) throw Failure{"cannot read the client area"};
        } else {
            if (!GetWindowRect(h, &r)) throw Failure{"cannot read the rectangle of " + name};
            MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&r), 2);
        }
        const int actual[] = {r.left, r.top, r.right - r.left, r.bottom - r.top};
        const int wanted[] = {expected.left, expected.top, expected.right, expected.bottom};
        for (int i = 0; i < 4; ++i)
            if (std::abs(actual[i] - wanted[i]) > tolerance)
                throw Failure{name + " lies at " + std::to_string(actual[0]) + " " + std::to_string(actual[1]) + " " +
                              std::to_string(actual[2]) + " " + std::to_string(actual[3]) + ", expected " +
                              std::to_string(wanted[0]) + " " + std::to_string(wanted[1]) + " " +
                              std::to_string(wanted[2]) + " " + std::to_string(wanted[3]) + " within " +
                              std::to_string(tolerance)};
    }

    HWND FindMessageBox() const { return FindTopLevel("#32770", true); }

    HWND MessageBox() const {
        if (!box_ || !IsWindow(box_)) throw Failure{"no current message box (expect-msgbox first)"};
        return box_;
    }

    // The message: the longest text among the box's static controls that
    // show text (the icon is a static control too).
    std::string MessageText(HWND box) const {
        struct Ctx {
            const Driver* self;
            std::string best;
        } ctx{this, {}};
        EnumChildWindows(
            box,
            [](HWND h, LPARAM p) -> BOOL {
                auto* c = reinterpret_cast<Ctx*>(p);
                if (_stricmp(ClassOf(h).c_str(), "static") != 0) return TRUE;
                std::string t = c->self->Text(h);
                if (t.size() > c->best.size()) c->best = t;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&ctx));
        return ctx.best;
    }

    void ExpectMessageBox(const std::string& expected) {
        DWORD until = GetTickCount() + timeout_;
        std::string last = "(none)";
        for (;;) {
            if (HWND box = FindMessageBox()) {
                last = MessageText(box);
                if (last == expected) {
                    box_ = box;
                    return;
                }
            }
            if (GetTickCount() >= until) break;
            CheckAlive("a message box");
            Sleep(50);
        }
        if (last == "(none)")
            throw Failure{"no message box within " + std::to_string(timeout_) + " ms, expected " + Visible(expected)};
        throw Failure{"message box shows " + Visible(last) + ", expected " + Visible(expected)};
    }

    void AnswerMessageBox(const std::string& button) {
        static const std::pair<const char*, int> kButtons[] = {{"OK", IDOK},     {"Cancel", IDCANCEL}, {"Yes", IDYES},
                                                               {"No", IDNO},     {"Abort", IDABORT},   {"Retry", IDRETRY},
                                                               {"Ignore", IDIGNORE}};
        int id = 0;
        for (auto& [n, v] : kButtons)
            if (_stricmp(n, button.c_str()) == 0) id = v;
        if (!id) throw Failure{"unknown button " + button};
        HWND box = MessageBox();
        HWND b = GetDlgItem(box, id);
        if (!b) throw Failure{"the message box has no " + button + " button"};
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(b));
        DWORD until = GetTickCount() + timeout_;
        while (IsWindow(box) && GetTickCount() < until) Sleep(20);
        if (IsWindow(box)) throw Failure{"the message box did not close after " + button};
        box_ = nullptr;
    }

    PROCESS_INFORMATION process_{};
    std::map<std::string, std::unique_ptr<Watch>> watches_;
    DWORD timeout_ = 10000;
    HWND window_ = nullptr;
    HWND box_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    // Rectangles in the program's device pixels: a driver unaware of
    // display scaling would be shown them scaled down to 96 DPI.
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    if (auto setContext = reinterpret_cast<SetContextFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext"))))
        setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));
    if (argc != 2) {
        std::cerr << "usage: ui_driver <script file | ->\n";
        return 2;
    }
    std::ifstream file;
    std::istream* in = &std::cin;
    if (std::string(argv[1]) != "-") {
        file.open(argv[1], std::ios::binary);
        if (!file) {
            std::cerr << "cannot open " << argv[1] << "\n";
            return 2;
        }
        in = &file;
    }
    Driver driver;
    std::string line;
    int number = 0;
    while (std::getline(*in, line)) {
        ++number;
        std::vector<std::string> words;
        try {
            size_t first = line.find_first_not_of(" \t\r");
            if (first == std::string::npos || line[first] == '#') continue;
            words = SplitWords(line);
            driver.Run(words);
            std::cout << "ok   " << number << ": " << line.substr(first) << "\n" << std::flush;
        } catch (const Failure& f) {
            std::cout << "FAIL " << number << ": " << line << "\n     " << f.message << "\n" << std::flush;
            return 1;
        } catch (const std::exception& e) {
            std::cout << "FAIL " << number << ": " << line << "\n     " << e.what() << "\n" << std::flush;
            return 1;
        }
    }
    return 0;
}
