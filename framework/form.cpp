#include "framework/form.h"

#include "framework/application.h"
#include "framework/menus.h"
#include "framework/scaling.h"
#include "framework/text.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

// Tab, Enter and Esc as the form has them (Form::DialogKey); arrow keys and
// the rest of the dialog keys as the dialog manager has them.
bool FormDialogNavigation(MSG& msg) {
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (!root || !GetPropW(root, Form::kFormProperty)) return false;
    if (auto* form = dynamic_cast<Form*>(Control::FromHandle(root)); form && form->DialogKey(msg)) return true;
    return IsDialogMessageW(root, &msg) != FALSE;
}

}  // namespace

Form::Form(Component* owner) : Control(owner), dpi_(SystemDpi()) {
    visible_ = false;
    parentColor_ = false;
    Application::SetDialogKeyHandler(FormDialogNavigation);
}

void Form::BeforeDestruction() {
    RunOnDestroy();
    DestroyComponents();
    Control::BeforeDestruction();
}

void Form::RunOnDestroy() {
    if (onDestroyDone_) return;
    onDestroyDone_ = true;
    if (!OnDestroy) return;
    try {
        OnDestroy(this);
    } catch (...) {
        // The way to destruction lets nothing through: whatever the handler
        // threw is reported like any handler's exception.
        Application::Instance().HandleCurrentException();
    }
}

Form::~Form() {
    RunOnDestroy();
    // The controls' windows go before the form's window.
    DestroyComponents();
    if (hwnd_) {
        HWND h = hwnd_;
        ::SetMenu(h, nullptr);
        DestroyWindow(h);
        hwnd_ = nullptr;
    }
    if (icon_) DestroyIcon(icon_);
}

UINT Form::FindControlMessage() {
    static UINT message = RegisterWindowMessageW(L"QvFindControl");
    return message;
}

Control::CreateParams Form::GetCreateParams() const {
    DWORD style = WS_CLIPCHILDREN;
    DWORD ex = WS_EX_CONTROLPARENT;
    switch (borderStyle_) {
        case FormBorderStyle::bsNone: style |= WS_POPUP; break;
        case FormBorderStyle::bsSingle: style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX; break;
        case FormBorderStyle::bsSizeable: style |= WS_OVERLAPPEDWINDOW; break;
        case FormBorderStyle::bsDialog:
            style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
            ex |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
            break;
    }
    return {nullptr, style, ex};
}

void Form::RegisterWindowClass() {
    std::wstring cls = ToWide(ClassName());
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (GetClassInfoExW(GetModuleHandleW(nullptr), cls.c_str(), &wc)) return;
    wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = FormProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = cls.c_str();
    if (!RegisterClassExW(&wc)) throw Exception("Cannot register the window class " + ClassName());
}

void Form::HandleNeeded() {
    if (hwnd_) return;
    RegisterWindowClass();
    CreateParams cp = GetCreateParams();
    HWND h = CreateWindowExW(cp.exStyle, ToWide(ClassName()).c_str(), ToWide(text_).c_str(), cp.style, Left(), Top(),
                             Width() > 0 ? Width() : CW_USEDEFAULT, Height() > 0 ? Height() : CW_USEDEFAULT, nullptr,
                             nullptr, GetModuleHandleW(nullptr), this);
    if (!h) throw Exception("Cannot create the window " + ClassName() + " (error " + IntToStr(GetLastError()) + ")");
    // The monitor the window came up on: its controls and fonts are made
    // at its DPI.
    dpi_ = WindowDpi(h);
    SyncFontScale();
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont().Handle()), FALSE);
    if (icon_) {
        SendMessageW(h, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
        SendMessageW(h, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    }
    ApplyClientSize();
    CreateChildHandles();
}

LRESULT CALLBACK Form::FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Form* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetPropW(hwnd, kHandleProperty, self);
        SetPropW(hwnd, kFormProperty, reinterpret_cast<HANDLE>(1));
    } else {
        self = static_cast<Form*>(GetPropW(hwnd, kHandleProperty));
    }
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        RemovePropW(hwnd, kHandleProperty);
        RemovePropW(hwnd, kFormProperty);
        if (self->hwnd_ == hwnd) self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (...) {
        Application::Instance().HandleCurrentException();
    }
    return 0;
}

LRESULT Form::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ReflectToChild(message, wParam, lParam, result)) return result;
    switch (message) {
        case WM_CLOSE: {
            CloseAction action = CloseAction::caHide;
            DoClose(action);
            switch (action) {
                case CloseAction::caNone: break;
                case CloseAction::caMinimize: ShowWindow(hwnd_, SW_MINIMIZE); break;
                case CloseAction::caHide:
                case CloseAction::caFree: Hide(); break;
            }
            return 0;
        }
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(hwnd_, &r);
            FillRect(reinterpret_cast<HDC>(wParam), &r, ColorBrush(GetColor()));
            return 1;
        }
        case WM_COMMAND:
            if (lParam == 0 && HIWORD(wParam) == 0 && DispatchMenuCommand(LOWORD(wParam))) return 0;
            break;
        case WM_ACTIVATE:
            // Leaving: remember the control that had the focus, to give it
            // back when the form is active again.
            if (LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
            }
            break;
        case WM_SETFOCUS: {
            // The form itself takes no keys: the focus goes on to the
            // control that had it, or the first of the Tab order.
            HWND target = lastFocus_;
            if (!target || !IsChild(hwnd_, target) || !IsWindowVisible(target) || !IsWindowEnabled(target))
                target = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
            if (target) {
                ::SetFocus(target);
                return 0;
            }
            break;
        }
        case WM_DPICHANGED: {
            // Moved to a monitor of another DPI: the system suggests the
            // frame there; the layout follows the new DPI inside it.
            if (const auto* suggested = reinterpret_cast<const RECT*>(lParam))
                SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                             suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            ChangeDpi(HIWORD(wParam));
            return 0;
        }
        case WM_GETDPISCALEDSIZE: {
            // The frame the window will have at the new DPI, so that the
            // system's suggestion is exact for a form of a fixed client size.
            if (clientWidth_ <= 0 || clientHeight_ <= 0 || !lParam) break;
            const int dpi = static_cast<int>(wParam);
            RECT r{0, 0, ScaleValue(clientWidth_, dpi, designDpi_), ScaleValue(clientHeight_, dpi, designDpi_)};
            if (!AdjustWindowRectForDpi(r, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)),
                                        GetMenu(hwnd_) != nullptr,
                                        static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)), dpi))
                break;
            auto* size = reinterpret_cast<SIZE*>(lParam);
            size->cx = r.right - r.left;
            size->cy = r.bottom - r.top;
            return TRUE;
        }
        case WM_MOVE:
        case WM_SIZE: {
            RECT r;
            GetWindowRect(hwnd_, &r);
            Control::SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
            break;
        }
        default:
            if (message == FindControlMessage()) {
                wchar_t name[256] = {};
                if (!GlobalGetAtomNameW(static_cast<ATOM>(wParam), name, 255)) return 0;
                std::string n = FromWide(name);
                if (SameText(n, Name())) return reinterpret_cast<LRESULT>(hwnd_);
                auto* c = dynamic_cast<Control*>(FindComponent(n));
                return c ? reinterpret_cast<LRESULT>(c->Handle()) : 0;
            }
            break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

void Form::DoCreate() {
    if (OnCreate) OnCreate(this);
}

void Form::DoClose(CloseAction& action) {
    if (OnClose) OnClose(this, action);
}

void Form::Close() {
    if (hwnd_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

int Form::ClientWidth() const {
    if (hwnd_) {
        RECT r;
        GetClientRect(hwnd_, &r);
        return ScaleValue(r.right - r.left, designDpi_, dpi_);
    }
    return clientWidth_;
}

int Form::ClientHeight() const {
    if (hwnd_) {
        RECT r;
        GetClientRect(hwnd_, &r);
        return ScaleValue(r.bottom - r.top, designDpi_, dpi_);
    }
    return clientHeight_;
}

void Form::SetClientWidth(int v) {
    clientWidth_ = v;
    ApplyClientSize();
}

void Form::SetClientHeight(int v) {
    clientHeight_ = v;
    ApplyClientSize();
}

void Form::ApplyClientSize() {
    if (!hwnd_ || clientWidth_ <= 0 || clientHeight_ <= 0) return;
    auto style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
    auto ex = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
    const int width = ScaleToDevice(clientWidth_), height = ScaleToDevice(clientHeight_);
    RECT r{0, 0, width, height};
    AdjustWindowRectForDpi(r, style, GetMenu(hwnd_) != nullptr, ex, dpi_);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // Correct for whatever the frame computation missed.
    RECT c;
    GetClientRect(hwnd_, &c);
    int dw = width - (c.right - c.left), dh = height - (c.bottom - c.top);
    if (dw != 0 || dh != 0) {
        RECT w;
        GetWindowRect(hwnd_, &w);
        SetWindowPos(hwnd_, nullptr, 0, 0, w.right - w.left + dw, w.bottom - w.top + dh,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void Form::SetBounds(int left, int top, int width, int height) {
    Control::SetBounds(left, top, width, height);
    if (hwnd_) SetWindowPos(hwnd_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::SetPixelsPerInch(int v) {
    if (v <= 0 || v == designDpi_) return;
    designDpi_ = v;
    SyncFontScale();
    ApplyClientSize();
    for (Control* c : children_) c->ApplyScale(dpi_);
}

void Form::ChangeDpi(int dpi) {
    if (dpi <= 0 || dpi == dpi_) return;
    const int old = dpi_;
    dpi_ = dpi;
    SyncFontScale();
    ApplyClientSize();
    for (Control* c : children_) c->ApplyScale(old);
    if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

Button* Form::FindButton(bool (*pred)(const Button&)) const {
    std::vector<const Control*> pending(children_.begin(), children_.end());
    while (!pending.empty()) {
        const Control* c = pending.back();
        pending.pop_back();
        auto* b = dynamic_cast<Button*>(const_cast<Control*>(c));
        if (b && pred(*b) && b->Handle() && IsWindowVisible(b->Handle()) && IsWindowEnabled(b->Handle())) return b;
        pending.insert(pending.end(), c->children_.begin(), c->children_.end());
    }
    return nullptr;
}

bool Form::DialogKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN || !hwnd_ || GetKeyState(VK_MENU) < 0) return false;
    HWND focus = GetFocus();
    if (focus && !IsChild(hwnd_, focus)) focus = nullptr;
    Button* press = nullptr;
    switch (msg.wParam) {
        case VK_TAB: {
            if (GetKeyState(VK_CONTROL) < 0) return false;
            // Also out of a multi-line text box, which would otherwise
            // keep the key (it asks for all keys).
            HWND next = GetNextDlgTabItem(hwnd_, focus, GetKeyState(VK_SHIFT) < 0);
            if (next && next != focus) {
                // As the dialog manager does: a text box entered with Tab
                // has its text selected.
                if (SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(next, EM_SETSEL, 0, -1);
                ::SetFocus(next);
            }
            return true;
        }
        case VK_ESCAPE:
            press = FindButton([](const Button& b) { return b.Cancel(); });
            break;
        case VK_RETURN: {
            auto* focused = dynamic_cast<Button*>(Control::FromHandle(focus));
            if (focused && IsWindowEnabled(focus)) {
                press = focused;
                break;
            }
            // A control that takes Enter itself (a multi-line text box)
            // keeps it.
            if (focus && (SendMessageW(focus, WM_GETDLGCODE, VK_RETURN, reinterpret_cast<LPARAM>(&msg)) & DLGC_WANTALLKEYS))
                return false;
            press = FindButton([](const Button& b) { return b.Default(); });
            break;
        }
        default: return false;
    }
    if (!press) return false;
    // As a mouse click: the button's own click handling, then its OnClick.
    // The form may be gone when this returns.
    SendMessageW(press->Handle(), BM_CLICK, 0, 0);
    return true;
}

void Form::SetBorderStyle(FormBorderStyle v) {
    borderStyle_ = v;
    if (hwnd_) {
        CreateParams cp = GetCreateParams();
        SetWindowLongPtrW(hwnd_, GWL_STYLE, static_cast<LONG_PTR>(cp.style | (Visible() ? WS_VISIBLE : 0)));
        SetWindowLongPtrW(hwnd_, GWL_EXSTYLE, static_cast<LONG_PTR>(cp.exStyle));
        SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
        ApplyClientSize();
    }
}

void Form::SetIconResource(const std::string& v) {
    HICON icon = nullptr;
    if (!v.empty()) {
        icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), ToWide(v).c_str(), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
        if (!icon) throw Exception("Icon resource " + v + " not found");
    }
    if (hwnd_) {
        SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    if (icon_) DestroyIcon(icon_);
    icon_ = icon;
    iconResource_ = v;
}

void Form::SetMenu(MainMenu* menu) {
    if (menu == menu_) return;
    if (menu_) RemoveFreeNotification(menu_);
    menu_ = menu;
    if (menu_) FreeNotification(menu_);
    if (hwnd_) {
        ::SetMenu(hwnd_, menu_ ? menu_->Handle() : nullptr);
        ApplyClientSize();
    }
}

void Form::Notification(Component* component, Operation operation) {
    if (operation == Operation::opRemove && component == menu_ && menu_) {
        if (hwnd_) ::SetMenu(hwnd_, nullptr);
        menu_ = nullptr;
    }
    Control::Notification(component, operation);
}

void Form::SetVisible(bool v) {
    visible_ = v;
    if (Loading() || creating_ || !hwnd_) return;
    if (v) Show();
    else Hide();
}

void Form::CenterOnScreen() {
    RECT w;
    GetWindowRect(hwnd_, &w);
    int width = w.right - w.left, height = w.bottom - w.top;
    int sx = GetSystemMetrics(SM_CXSCREEN), sy = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(hwnd_, nullptr, (sx - width) / 2, (sy - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::Show() {
    HandleNeeded();
    visible_ = true;
    if (!shownOnce_) {
        shownOnce_ = true;
        if (position_ == FormPosition::poScreenCenter) CenterOnScreen();
    }
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    SetForegroundWindow(hwnd_);
    // Focus goes to the first control of the Tab order.
    HWND focus = GetFocus();
    if (!focus || focus == hwnd_ || GetAncestor(focus, GA_ROOT) != hwnd_)
        if (HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE)) ::SetFocus(first);
}

void Form::Hide() {
    visible_ = false;
    if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
}

void Form::ReadFormResource(const std::string& resourceName) {
    std::string name = resourceName.empty() ? UpperCase(ClassName()) : resourceName;
    HandleNeeded();
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(module, ToWide(name).c_str(), reinterpret_cast<LPCWSTR>(RT_RCDATA));
    if (!res) throw EFormError("Form resource " + name + " not found", 0);
    HGLOBAL data = LoadResource(module, res);
    const void* bytes = data ? LockResource(data) : nullptr;
    DWORD size = SizeofResource(module, res);
    if (!bytes) throw EFormError("Form resource " + name + " cannot be read", 0);
    ReadForm(*this, std::string_view(static_cast<const char*>(bytes), size), handlers_, "form resource " + name);
}

void Form::Create(const std::string& resourceName) {
    creating_ = true;
    try {
        ReadFormResource(resourceName);
        DoCreate();
    } catch (...) {
        creating_ = false;
        throw;
    }
    creating_ = false;
    if (Visible()) Show();
}

const PropertyTable& Form::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringProperty<Form>("Caption", &Form::Caption, &Form::SetCaption),
        IntegerProperty<Form>("ClientWidth", &Form::ClientWidth, &Form::SetClientWidth),
        IntegerProperty<Form>("ClientHeight", &Form::ClientHeight, &Form::SetClientHeight),
        EnumProperty<Form, FormPosition>("Position", {"poDesigned", "poScreenCenter"}, &Form::Position,
                                         &Form::SetPosition),
        EnumProperty<Form, FormBorderStyle>("BorderStyle", {"bsNone", "bsSingle", "bsSizeable", "bsDialog"},
                                            &Form::BorderStyle, &Form::SetBorderStyle),
        ReferenceProperty<Form, MainMenu>("Menu", &Form::Menu, &Form::SetMenu),
        StringProperty<Form>("IconResource", &Form::IconResource, &Form::SetIconResource),
        IntegerProperty<Form>("PixelsPerInch", &Form::PixelsPerInch, &Form::SetPixelsPerInch),
        EventProperty<Form>("OnCreate", &Form::OnCreate),
        EventProperty<Form>("OnDestroy", &Form::OnDestroy),
        EventProperty<Form>("OnClose", &Form::OnClose),
    });
    return table;
}

}  // namespace qv
