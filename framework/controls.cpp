#include "framework/controls.h"

#include <commctrl.h>
#include <uxtheme.h>

#include <algorithm>

#include "framework/application.h"
#include "framework/scaling_core.h"
#include "framework/text.h"
#include "framework/win32_text.h"

namespace qv {

namespace {

const wchar_t* const kControlProp = Control::kHandleProperty;

// The common control classes are registered before the first control window
// is made, not at start-up: a program that makes no controls (the
// communications components on their own) then never loads the library.
void RegisterCommonControlClasses() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES |
                                                  ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)registered;
}

[[noreturn]] void RaiseLastError(const std::string& what) {
    throw Exception(what + " (error " + IntToStr(GetLastError()) + ")");
}

std::vector<std::string> SplitLines(std::string_view text) {
    StringList l;
    l.SetText(text);
    return l.ToVector();
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

// CR, LF and CR LF all become CR LF.
std::string NormalizeLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

// ======================================================================
// Control
// ======================================================================
Control::Control(Component* owner) : Component(owner) {
    font_.OnChange = [this] { OnFontChange(); };
}

Control::~Control() {
    DestroyHandle();
    for (Control* c : children_) c->parent_ = nullptr;
    children_.clear();
    if (parent_) std::erase(parent_->children_, this);
    parent_ = nullptr;
}

Control* Control::FromHandle(HWND hwnd) {
    if (!hwnd) return nullptr;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId()) return nullptr;
    return static_cast<Control*>(GetPropW(hwnd, kControlProp));
}

int Control::ControlId() const {
    int index = ComponentIndex();
    return 100 + (index < 0 ? 0 : index);
}

void Control::SetParentComponent(Component* parent) {
    if (auto* c = dynamic_cast<Control*>(parent)) SetParent(c);
}

void Control::SetParent(Control* parent) {
    if (parent == parent_) return;
    if (parent == this) throw Exception("A control cannot be its own parent");
    if (parent_) std::erase(parent_->children_, this);
    parent_ = parent;
    if (parent_) parent_->children_.push_back(this);
    if (hwnd_) {
        if (parent_ && parent_->ClientHandle()) ::SetParent(hwnd_, parent_->ClientHandle());
        else DestroyHandle();
    }
    ParentFontChanged();
    if (!hwnd_) CreateHandle();
}

void Control::CreateHandle() {
    if (hwnd_ || IsTopLevel() || !parent_ || !parent_->ClientHandle()) return;
    RegisterCommonControlClasses();
    SyncFontScale();
    CreateParams cp = GetCreateParams();
    DWORD style = cp.style | WS_CHILD | WS_CLIPSIBLINGS | (visible_ ? WS_VISIBLE : 0) | (enabled_ ? 0 : WS_DISABLED) |
                  (tabStop_ ? WS_TABSTOP : 0);
    RECT r = DeviceBounds();
    HWND h = CreateWindowExW(cp.exStyle, cp.className, ToWide(text_).c_str(), style, r.left, r.top, r.right - r.left,
                             r.bottom - r.top,
                             parent_->ClientHandle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId())),
                             GetModuleHandleW(nullptr), nullptr);
    if (!h) RaiseLastError("Cannot create the window of " + Name());
    hwnd_ = h;
    SetPropW(h, kControlProp, this);
    subclassed_ = SetWindowSubclass(h, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), FALSE);
    HandleCreated();
}

void Control::CreateChildHandles() {
    for (Control* c : children_) {
        c->CreateHandle();
        c->CreateChildHandles();
    }
}

void Control::DestroyHandle() {
    if (!hwnd_) return;
    HandleDestroying();
    text_ = GetText();
    HWND h = hwnd_;
    if (subclassed_) RemoveWindowSubclass(h, SubclassProc, 1);
    subclassed_ = false;
    RemovePropW(h, kControlProp);
    hwnd_ = nullptr;
    DestroyWindow(h);
}

void Control::RecreateHandle() {
    if (!hwnd_) return;
    DestroyHandle();
    CreateHandle();
    if (parent_ && !Loading()) parent_->UpdateTabOrder();
}

LRESULT CALLBACK Control::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR ref) {
    auto* self = reinterpret_cast<Control*>(ref);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, SubclassProc, 1);
        RemovePropW(hwnd, kControlProp);
        if (self->hwnd_ == hwnd) {
            self->hwnd_ = nullptr;
            self->subclassed_ = false;
        }
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    try {
        return self->WindowProc(message, wParam, lParam);
    } catch (...) {
        Application::Instance().HandleCurrentException();
    }
    return 0;
}

LRESULT Control::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (ReflectToChild(message, wParam, lParam, result)) return result;
    return DefaultProc(message, wParam, lParam);
}

LRESULT Control::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(hwnd_, message, wParam, lParam);
}

bool Control::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
        case WM_COMMAND: {
            Control* child = FromHandle(reinterpret_cast<HWND>(lParam));
            if (!child) return false;
            result = 0;
            return child->Command(HIWORD(wParam));
        }
        case WM_NOTIFY: {
            auto* header = reinterpret_cast<NMHDR*>(lParam);
            Control* child = header ? FromHandle(header->hwndFrom) : nullptr;
            if (!child) return false;
            result = 0;
            return child->Notify(header, result);
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX: {
            Control* child = FromHandle(reinterpret_cast<HWND>(lParam));
            if (!child) return false;
            HBRUSH brush = child->CtlColor(reinterpret_cast<HDC>(wParam), message);
            if (!brush) return false;
            result = reinterpret_cast<LRESULT>(brush);
            return true;
        }
        default: return false;
    }
}

HBRUSH Control::CtlColor(HDC dc, UINT message) {
    // Edit fields and lists keep the system's window colours.
    if (message == WM_CTLCOLOREDIT || message == WM_CTLCOLORLISTBOX) return nullptr;
    Color back = (parentColor_ && parent_) ? parent_->GetColor() : color_;
    SetTextColor(dc, ColorToRGB(font_.GetColor()));
    SetBkColor(dc, ColorToRGB(back));
    return ColorBrush(back);
}

void Control::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (hwnd_ && !IsTopLevel()) {
        RECT r = DeviceBounds();
        MoveWindow(hwnd_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    }
}

int Control::CurrentDpi() const { return parent_ ? parent_->CurrentDpi() : kDesignDpi; }

int Control::DesignDpi() const { return parent_ ? parent_->DesignDpi() : kDesignDpi; }

int Control::ScaleToDevice(int v) const { return ScaleValue(v, CurrentDpi(), DesignDpi()); }

RECT Control::DeviceBounds() const {
    const int dpi = CurrentDpi(), design = DesignDpi();
    const Span x = ScaleSpan({left_, width_}, dpi, design);
    const Span y = ScaleSpan({top_, height_}, dpi, design);
    return {x.start, y.start, x.start + x.size, y.start + y.size};
}

void Control::SyncFontScale() {
    const bool copying = copyingFont_;
    copyingFont_ = true;
    try {
        font_.SetScale(CurrentDpi(), DesignDpi());
    } catch (...) {
        copyingFont_ = copying;
        throw;
    }
    copyingFont_ = copying;
}

void Control::ApplyScale(int oldDpi) {
    SyncFontScale();
    ScaleChanged(oldDpi);
    for (Control* c : children_) c->ApplyScale(oldDpi);
}

void Control::ScaleChanged(int) {
    if (hwnd_ && !IsTopLevel()) SetBounds(left_, top_, width_, height_);
}

void Control::SetVisible(bool v) {
    visible_ = v;
    if (hwnd_) ShowWindow(hwnd_, v ? SW_SHOW : SW_HIDE);
}

void Control::SetEnabled(bool v) {
    enabled_ = v;
    if (hwnd_) EnableWindow(hwnd_, v);
}

void Control::SetTabOrder(int v) {
    if (v == tabOrder_) return;
    tabOrder_ = v;
    if (parent_ && !Loading()) parent_->UpdateTabOrder();
}

void Control::SetTabStop(bool v) {
    tabStop_ = v;
    if (hwnd_) {
        LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
        style = v ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
        SetWindowLongPtrW(hwnd_, GWL_STYLE, style);
    }
}

void Control::OnFontChange() {
    if (!copyingFont_) parentFont_ = false;
    FontChanged();
}

void Control::FontChanged() {
    if (hwnd_) SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Handle()), TRUE);
    for (Control* c : children_) c->ParentFontChanged();
}

void Control::ParentFontChanged() {
    if (!parentFont_ || !parent_) return;
    copyingFont_ = true;
    try {
        font_.Assign(parent_->font_);
    } catch (...) {
        copyingFont_ = false;
        throw;
    }
    copyingFont_ = false;
}

void Control::SetParentFont(bool v) {
    parentFont_ = v;
    if (v) ParentFontChanged();
}

void Control::SetColor(Color v) {
    color_ = v;
    parentColor_ = false;
    if (hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
    for (Control* c : children_) c->ParentColorChanged();
}

void Control::ParentColorChanged() {
    if (parentColor_ && hwnd_) InvalidateRect(hwnd_, nullptr, TRUE);
}

std::string Control::GetText() const {
    if (!hwnd_) return text_;
    int n = GetWindowTextLengthW(hwnd_);
    std::wstring w(static_cast<size_t>(n) + 1, L'\0');
    int got = GetWindowTextW(hwnd_, w.data(), n + 1);
    w.resize(static_cast<size_t>(got > 0 ? got : 0));
    return FromWide(w);
}

void Control::SetText(const std::string& text) {
    text_ = text;
    if (hwnd_) SetWindowTextW(hwnd_, ToWide(text).c_str());
}

void Control::SetFocus() {
    if (hwnd_) ::SetFocus(hwnd_);
}

std::vector<Control*> Control::ChildrenInTabOrder() const {
    std::vector<Control*> list = children_;
    std::stable_sort(list.begin(), list.end(), [](const Control* a, const Control* b) {
        bool an = a->tabOrder_ < 0, bn = b->tabOrder_ < 0;
        if (an != bn) return !an;
        return a->tabOrder_ < b->tabOrder_;
    });
    return list;
}

void Control::UpdateTabOrder() {
    HWND after = HWND_TOP;
    for (Control* c : ChildrenInTabOrder()) {
        if (!c->hwnd_) continue;
        SetWindowPos(c->hwnd_, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = c->hwnd_;
    }
}

void Control::Loaded() {
    Component::Loaded();
    if (!children_.empty()) UpdateTabOrder();
}

const PropertyTable& Control::StaticProperties() {
    static const PropertyTable table(&Component::StaticProperties(), {
        IntegerProperty<Control>("Left", &Control::Left, &Control::SetLeft),
        IntegerProperty<Control>("Top", &Control::Top, &Control::SetTop),
        IntegerProperty<Control>("Width", &Control::Width, &Control::SetWidth),
        IntegerProperty<Control>("Height", &Control::Height, &Control::SetHeight),
        BooleanProperty<Control>("Visible", &Control::Visible, &Control::SetVisible),
        BooleanProperty<Control>("Enabled", &Control::Enabled, &Control::SetEnabled),
        StringProperty<Control>("Hint", &Control::Hint, &Control::SetHint),
        IntegerProperty<Control>("TabOrder", &Control::TabOrder, &Control::SetTabOrder),
        BooleanProperty<Control>("TabStop", &Control::TabStop, &Control::SetTabStop),
        ObjectProperty<Control>("Font", static_cast<Font& (Control::*)()>(&Control::GetFont)),
        BooleanProperty<Control>("ParentFont", &Control::ParentFont, &Control::SetParentFont),
        IntegerProperty<Control>("Color", &Control::GetColor, &Control::SetColor),
    });
    return table;
}

// ======================================================================
// Label, Image
// ======================================================================
Label::Label(Component* owner) : Control(owner) {}

Control::CreateParams Label::GetCreateParams() const { return {L"STATIC", SS_LEFT, 0}; }

void Label::SetText(const std::string& text) {
    Control::SetText(text);
    AdjustSize();
}

void Label::FontChanged() {
    Control::FontChanged();
    AdjustSize();
}

void Label::SetAutoSize(bool v) {
    autoSize_ = v;
    AdjustSize();
}

void Label::AdjustSize() {
    if (!autoSize_ || !hwnd_) return;
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, GetFont().Handle());
    std::wstring text = ToWide(GetText());
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    // Measured in device pixels; kept in layout units rounded up, so that
    // the window, scaled back, is never narrower than its text.
    const int dpi = CurrentDpi(), design = DesignDpi();
    SetBounds(Left(), Top(), UnscaleSizeUp(size.cx, dpi, design), UnscaleSizeUp(tm.tmHeight, dpi, design));
}

const PropertyTable& Label::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringProperty<Label>("Caption", &Label::Caption, &Label::SetCaption),
        BooleanProperty<Label>("AutoSize", &Label::AutoSize, &Label::SetAutoSize),
    });
    return table;
}

Image::Image(Component* owner) : Control(owner) {}

Image::~Image() {
    DestroyHandle();
    if (icon_) DestroyIcon(icon_);
}

Control::CreateParams Image::GetCreateParams() const { return {L"STATIC", SS_ICON | SS_CENTERIMAGE, 0}; }

void Image::SetIconResource(const std::string& v) {
    const std::string previous = iconResource_;
    iconResource_ = v;
    try {
        LoadIconImage();
    } catch (...) {
        iconResource_ = previous;
        throw;
    }
}

void Image::LoadIconImage() {
    HICON icon = nullptr;
    if (!iconResource_.empty()) {
        // Loaded at the size it is shown at: the image of that size when
        // the resource has one, otherwise the nearest one resampled once.
        const int size = ScaleToDevice(32);
        icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), ToWide(iconResource_).c_str(), IMAGE_ICON, size, size, 0));
        if (!icon) throw Exception("Icon resource " + iconResource_ + " not found");
    }
    if (icon_) {
        if (hwnd_) SendMessageW(hwnd_, STM_SETICON, 0, 0);
        DestroyIcon(icon_);
    }
    icon_ = icon;
    HandleCreated();
}

void Image::ScaleChanged(int oldDpi) {
    LoadIconImage();
    Control::ScaleChanged(oldDpi);
}

void Image::HandleCreated() {
    if (!hwnd_) return;
    SendMessageW(hwnd_, STM_SETICON, reinterpret_cast<WPARAM>(icon_), 0);
    // Setting an icon may resize the control to the icon; keep our bounds.
    RECT r = DeviceBounds();
    MoveWindow(hwnd_, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

const PropertyTable& Image::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringProperty<Image>("IconResource", &Image::IconResource, &Image::SetIconResource),
    });
    return table;
}

// ======================================================================
// Buttons
// ======================================================================
void ButtonControl::SetAction(Action* action) {
    if (actionLink_.Set(*this, action)) SetCaption(action->Caption());
}

void ButtonControl::Notification(Component* component, Operation operation) {
    actionLink_.Notification(component, operation);
    Control::Notification(component, operation);
}

void ButtonControl::Click() { actionLink_.Click(this, OnClick); }

bool ButtonControl::Command(WORD code) {
    if (code != BN_CLICKED) return false;
    Click();
    return true;
}

Button::Button(Component* owner) : ButtonControl(owner) { SetTabStop(true); }

Control::CreateParams Button::GetCreateParams() const {
    return {L"BUTTON", static_cast<DWORD>(default_ ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0};
}

void Button::SetDefault(bool v) {
    default_ = v;
    if (hwnd_) SendMessageW(hwnd_, BM_SETSTYLE, v ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
}

const PropertyTable& Button::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringProperty<Button>("Caption", &Button::Caption, &Button::SetCaption),
        ReferenceProperty<Button, Action>("Action", &Button::GetAction, &Button::SetAction),
        BooleanProperty<Button>("Default", &Button::Default, &Button::SetDefault),
        BooleanProperty<Button>("Cancel", &Button::Cancel, &Button::SetCancel),
        EventProperty<ButtonControl>("OnClick", &ButtonControl::OnClick),
    });
    return table;
}

CheckBox::CheckBox(Component* owner) : ButtonControl(owner) { SetTabStop(true); }

Control::CreateParams CheckBox::GetCreateParams() const { return {L"BUTTON", BS_AUTOCHECKBOX, 0}; }

void CheckBox::HandleCreated() {
    SendMessageW(hwnd_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
    FontChanged();
}

void CheckBox::HandleDestroying() { checked_ = Checked(); }

void CheckBox::FontChanged() {
    Control::FontChanged();
    // Visual styles draw check box captions in the theme's colour; a check
    // box with a colour of its own is drawn the classic way.
    if (hwnd_ && GetFont().GetColor() != clWindowText) SetWindowTheme(hwnd_, L"", L"");
}

bool CheckBox::Checked() const {
    if (hwnd_) return SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
    return checked_;
}

void CheckBox::SetChecked(bool v) {
    checked_ = v;
    if (hwnd_) SendMessageW(hwnd_, BM_SETCHECK, v ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool CheckBox::Command(WORD code) {
    if (code == BN_CLICKED) checked_ = Checked();
    return ButtonControl::Command(code);
}

const PropertyTable& CheckBox::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringProperty<CheckBox>("Caption", &CheckBox::Caption, &CheckBox::SetCaption),
        ReferenceProperty<CheckBox, Action>("Action", &CheckBox::GetAction, &CheckBox::SetAction),
        BooleanProperty<CheckBox>("Checked", &CheckBox::Checked, &CheckBox::SetChecked),
        EventProperty<ButtonControl>("OnClick", &ButtonControl::OnClick),
    });
    return table;
}

// ======================================================================
// Edit, Memo
// ======================================================================
Edit::Edit(Component* owner) : Control(owner) { SetTabStop(true); }

Control::CreateParams Edit::GetCreateParams() const {
    return {L"EDIT", static_cast<DWORD>(ES_AUTOHSCROLL | (readOnly_ ? ES_READONLY : 0)), WS_EX_CLIENTEDGE};
}

void Edit::SetReadOnly(bool v) {
    readOnly_ = v;
    if (hwnd_) SendMessageW(hwnd_, EM_SETREADONLY, v, 0);
}

bool Edit::Command(WORD code) {
    if (code != EN_CHANGE) return false;
    if (OnChange && !Loading()) OnChange(this);
    return true;
}

const PropertyTable& Edit::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringProperty<Edit>("Text", &Edit::Text, &Edit::SetText),
        BooleanProperty<Edit>("ReadOnly", &Edit::ReadOnly, &Edit::SetReadOnly),
        EventProperty<Edit>("OnChange", &Edit::OnChange),
    });
    return table;
}

Memo::Memo(Component* owner) : Control(owner), lines_(*this) { SetTabStop(true); }

Control::CreateParams Memo::GetCreateParams() const {
    DWORD style = ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL;
    if (!wordWrap_) style |= ES_AUTOHSCROLL;
    if (scrollBars_ == ScrollStyle::ssVertical || scrollBars_ == ScrollStyle::ssBoth) style |= WS_VSCROLL;
    if (scrollBars_ == ScrollStyle::ssHorizontal || scrollBars_ == ScrollStyle::ssBoth) style |= WS_HSCROLL;
    if (readOnly_) style |= ES_READONLY;
    return {L"EDIT", style, WS_EX_CLIENTEDGE};
}

void Memo::HandleCreated() { SendMessageW(hwnd_, EM_SETLIMITTEXT, 0x7FFFFFFE, 0); }

void Memo::SetText(const std::string& text) { Control::SetText(NormalizeLineBreaks(text)); }

void Memo::SetReadOnly(bool v) {
    readOnly_ = v;
    if (hwnd_) SendMessageW(hwnd_, EM_SETREADONLY, v, 0);
}

void Memo::SetWordWrap(bool v) {
    if (v == wordWrap_) return;
    wordWrap_ = v;
    RecreateHandle();
}

void Memo::SetScrollBars(ScrollStyle v) {
    if (v == scrollBars_) return;
    scrollBars_ = v;
    RecreateHandle();
}

const PropertyTable& Memo::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringsProperty<Memo>("Lines", &Memo::Lines),
        BooleanProperty<Memo>("ReadOnly", &Memo::ReadOnly, &Memo::SetReadOnly),
        BooleanProperty<Memo>("WordWrap", &Memo::WordWrap, &Memo::SetWordWrap),
        EnumProperty<Memo, ScrollStyle>("ScrollBars", {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"},
                                        &Memo::ScrollBars, &Memo::SetScrollBars),
    });
    return table;
}

namespace {
LRESULT Send(HWND h, UINT m, WPARAM w = 0, LPARAM l = 0) { return SendMessageW(h, m, w, l); }
}  // namespace

int MemoLines::Count() const {
    HWND h = memo_.Handle();
    if (!h) return static_cast<int>(SplitLines(memo_.text_).size());
    int n = static_cast<int>(Send(h, EM_GETLINECOUNT));
    if (n > 0) {
        LRESULT last = Send(h, EM_LINEINDEX, static_cast<WPARAM>(n - 1));
        // The empty line after a final line break is no line of the list.
        if (Send(h, EM_LINELENGTH, static_cast<WPARAM>(last)) == 0) --n;
    }
    return n;
}

std::string MemoLines::Get(int index) const {
    CheckIndex(index, Count());
    HWND h = memo_.Handle();
    if (!h) return SplitLines(memo_.text_)[static_cast<size_t>(index)];
    LRESULT start = Send(h, EM_LINEINDEX, static_cast<WPARAM>(index));
    auto len = static_cast<size_t>(Send(h, EM_LINELENGTH, static_cast<WPARAM>(start)));
    if (len == 0) return {};
    std::wstring buf(std::max<size_t>(len + 1, 2), L'\0');
    *reinterpret_cast<WORD*>(buf.data()) = static_cast<WORD>(std::min<size_t>(buf.size(), 0xFFFF));
    auto got = static_cast<size_t>(Send(h, EM_GETLINE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf.data())));
    buf.resize(std::min(got, len));
    return FromWide(buf);
}

void MemoLines::Put(int index, std::string_view s) {
    CheckIndex(index, Count());
    HWND h = memo_.Handle();
    if (!h) {
        auto v = SplitLines(memo_.text_);
        v[static_cast<size_t>(index)] = std::string(s);
        memo_.text_ = JoinLines(v);
    } else {
        LRESULT start = Send(h, EM_LINEINDEX, static_cast<WPARAM>(index));
        LRESULT len = Send(h, EM_LINELENGTH, static_cast<WPARAM>(start));
        Send(h, EM_SETSEL, static_cast<WPARAM>(start), start + len);
        Send(h, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(ToWide(s).c_str()));
    }
    Changed();
}

void MemoLines::Insert(int index, std::string_view s) {
    int count = Count();
    CheckIndex(index, count + 1);
    HWND h = memo_.Handle();
    if (!h) {
        auto v = SplitLines(memo_.text_);
        v.insert(v.begin() + index, std::string(s));
        memo_.text_ = JoinLines(v);
    } else {
        std::string insert;
        LRESULT at;
        if (index < count) {
            at = Send(h, EM_LINEINDEX, static_cast<WPARAM>(index));
            insert = std::string(s) + "\r\n";
        } else {
            at = GetWindowTextLengthW(h);
            std::string text = memo_.GetText();
            insert = (!text.empty() && text.back() != '\n') ? "\r\n" : "";
            insert += std::string(s) + "\r\n";
        }
        Send(h, EM_SETSEL, static_cast<WPARAM>(at), at);
        Send(h, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(ToWide(insert).c_str()));
    }
    Changed();
}

void MemoLines::Delete(int index) {
    CheckIndex(index, Count());
    HWND h = memo_.Handle();
    if (!h) {
        auto v = SplitLines(memo_.text_);
        v.erase(v.begin() + index);
        memo_.text_ = JoinLines(v);
    } else {
        LRESULT start = Send(h, EM_LINEINDEX, static_cast<WPARAM>(index));
        int lines = static_cast<int>(Send(h, EM_GETLINECOUNT));
        LRESULT end = index + 1 < lines ? Send(h, EM_LINEINDEX, static_cast<WPARAM>(index + 1)) : GetWindowTextLengthW(h);
        Send(h, EM_SETSEL, static_cast<WPARAM>(start), end);
        Send(h, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
    }
    Changed();
}

void MemoLines::Clear() {
    memo_.Control::SetText("");
    Changed();
}

// ======================================================================
// StatusBar
// ======================================================================
StatusBar::StatusBar(Component* owner) : Control(owner), panels_(*this) {}

Control::CreateParams StatusBar::GetCreateParams() const {
    return {STATUSCLASSNAMEW, CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0};
}

void StatusBar::HandleCreated() {
    ApplyPanels();
    SendMessageW(hwnd_, SB_SIMPLE, simplePanel_, 0);
    SendMessageW(hwnd_, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(ToWide(simpleText_).c_str()));
}

void StatusBar::SetBounds(int left, int top, int width, int height) {
    Control::SetBounds(left, top, width, height);
    ApplyPanels();
}

void StatusBar::SetSimplePanel(bool v) {
    simplePanel_ = v;
    if (hwnd_) SendMessageW(hwnd_, SB_SIMPLE, v, 0);
}

void StatusBar::SetSimpleText(const std::string& v) {
    simpleText_ = v;
    if (hwnd_) SendMessageW(hwnd_, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(ToWide(v).c_str()));
}

void StatusBar::ApplyPanels() {
    if (!hwnd_) return;
    int n = std::max<int>(1, static_cast<int>(panelTexts_.size()));
    std::vector<int> edges(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        edges[static_cast<size_t>(i)] = (i + 1 == n) ? -1 : ScaleToDevice(Width() * (i + 1) / n);
    SendMessageW(hwnd_, SB_SETPARTS, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(edges.data()));
    for (int i = 0; i < n; ++i) {
        std::wstring t = i < static_cast<int>(panelTexts_.size()) ? ToWide(panelTexts_[static_cast<size_t>(i)]) : L"";
        SendMessageW(hwnd_, SB_SETTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(t.c_str()));
    }
    // Setting parts leaves simple mode on some platforms; keep ours.
    SendMessageW(hwnd_, SB_SIMPLE, simplePanel_, 0);
}

int StatusPanels::Count() const { return static_cast<int>(bar_.panelTexts_.size()); }

std::string StatusPanels::Get(int index) const {
    // The texts are kept here: in simple mode the control answers with its
    // simple text for any part.
    CheckIndex(index, Count());
    return bar_.panelTexts_[static_cast<size_t>(index)];
}

void StatusPanels::Put(int index, std::string_view s) {
    CheckIndex(index, Count());
    bar_.panelTexts_[static_cast<size_t>(index)] = std::string(s);
    if (HWND h = bar_.Handle())
        SendMessageW(h, SB_SETTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(ToWide(s).c_str()));
    Changed();
}

void StatusPanels::Insert(int index, std::string_view s) {
    CheckIndex(index, Count() + 1);
    bar_.panelTexts_.insert(bar_.panelTexts_.begin() + index, std::string(s));
    bar_.ApplyPanels();
    Changed();
}

void StatusPanels::Delete(int index) {
    CheckIndex(index, Count());
    bar_.panelTexts_.erase(bar_.panelTexts_.begin() + index);
    bar_.ApplyPanels();
    Changed();
}

void StatusPanels::Clear() {
    bar_.panelTexts_.clear();
    bar_.ApplyPanels();
    Changed();
}

const PropertyTable& StatusBar::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        BooleanProperty<StatusBar>("SimplePanel", &StatusBar::SimplePanel, &StatusBar::SetSimplePanel),
        StringProperty<StatusBar>("SimpleText", &StatusBar::SimpleText, &StatusBar::SetSimpleText),
        StringsProperty<StatusBar>("Panels", &StatusBar::Panels),
    });
    return table;
}

// ======================================================================
// List box, combo box
// ======================================================================
int ControlItems::Count() const {
    HWND h = control_.Handle();
    if (!h) return StringList::Count();
    LRESULT n = SendMessageW(h, m_.getCount, 0, 0);
    return n < 0 ? 0 : static_cast<int>(n);
}

std::string ControlItems::Get(int index) const {
    HWND h = control_.Handle();
    if (!h) return StringList::Get(index);
    CheckIndex(index, Count());
    LRESULT len = SendMessageW(h, m_.getTextLen, static_cast<WPARAM>(index), 0);
    if (len <= 0) return {};
    std::wstring buf(static_cast<size_t>(len) + 1, L'\0');
    LRESULT got = SendMessageW(h, m_.getText, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buf.data()));
    buf.resize(static_cast<size_t>(got > 0 ? got : 0));
    return FromWide(buf);
}

void ControlItems::Put(int index, std::string_view s) {
    HWND h = control_.Handle();
    if (!h) return StringList::Put(index, s);
    CheckIndex(index, Count());
    LRESULT sel = SendMessageW(h, m_.getCurSel, 0, 0);
    SendMessageW(h, m_.remove, static_cast<WPARAM>(index), 0);
    SendMessageW(h, m_.insert, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(ToWide(s).c_str()));
    if (sel == index) SendMessageW(h, m_.setCurSel, static_cast<WPARAM>(sel), 0);
    Changed();
}

void ControlItems::Insert(int index, std::string_view s) {
    HWND h = control_.Handle();
    if (!h) return StringList::Insert(index, s);
    CheckIndex(index, Count() + 1);
    SendMessageW(h, m_.insert, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(ToWide(s).c_str()));
    Changed();
}

void ControlItems::Delete(int index) {
    HWND h = control_.Handle();
    if (!h) return StringList::Delete(index);
    CheckIndex(index, Count());
    SendMessageW(h, m_.remove, static_cast<WPARAM>(index), 0);
    Changed();
}

void ControlItems::Clear() {
    HWND h = control_.Handle();
    if (!h) return StringList::Clear();
    SendMessageW(h, m_.reset, 0, 0);
    Changed();
}

void ControlItems::Flush() {
    HWND h = control_.Handle();
    if (!h) return;
    int n = StringList::Count();
    for (int i = 0; i < n; ++i)
        SendMessageW(h, m_.insert, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(ToWide(StringList::Get(i)).c_str()));
    while (StringList::Count() > 0) StringList::Delete(StringList::Count() - 1);
}

namespace {
const ControlItems::Messages kListBoxMessages{LB_GETCOUNT, LB_GETTEXTLEN,   LB_GETTEXT,  LB_INSERTSTRING,
                                              LB_DELETESTRING, LB_RESETCONTENT, LB_GETCURSEL, LB_SETCURSEL};
const ControlItems::Messages kComboBoxMessages{CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_INSERTSTRING,
                                               CB_DELETESTRING, CB_RESETCONTENT, CB_GETCURSEL, CB_SETCURSEL};
}  // namespace

ListBox::ListBox(Component* owner) : Control(owner), items_(*this, kListBoxMessages) { SetTabStop(true); }

Control::CreateParams ListBox::GetCreateParams() const {
    return {L"LISTBOX", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL, WS_EX_CLIENTEDGE};
}

void ListBox::HandleCreated() {
    items_.Flush();
    if (itemIndex_ >= 0) SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(itemIndex_), 0);
}

int ListBox::ItemIndex() const {
    if (hwnd_) return static_cast<int>(SendMessageW(hwnd_, LB_GETCURSEL, 0, 0));
    return itemIndex_;
}

void ListBox::SetItemIndex(int v) {
    itemIndex_ = v;
    if (hwnd_) SendMessageW(hwnd_, LB_SETCURSEL, static_cast<WPARAM>(v), 0);
}

const PropertyTable& ListBox::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringsProperty<ListBox>("Items", &ListBox::Items),
        IntegerProperty<ListBox>("ItemIndex", &ListBox::ItemIndex, &ListBox::SetItemIndex),
    });
    return table;
}

ComboBox::ComboBox(Component* owner) : Control(owner), items_(*this, kComboBoxMessages) { SetTabStop(true); }

Control::CreateParams ComboBox::GetCreateParams() const {
    DWORD style = WS_VSCROLL | (style_ == ComboStyle::csDropDownList ? CBS_DROPDOWNLIST : (CBS_DROPDOWN | CBS_AUTOHSCROLL));
    return {L"COMBOBOX", style, 0};
}

void ComboBox::HandleCreated() {
    items_.Flush();
    if (itemIndex_ >= 0) SendMessageW(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(itemIndex_), 0);
    SetBounds(Left(), Top(), Width(), Height());
}

void ComboBox::SetBounds(int left, int top, int width, int height) {
    Control::SetBounds(left, top, width, height);
    // The window's height includes the dropped-down list.
    if (hwnd_) {
        RECT r = DeviceBounds();
        MoveWindow(hwnd_, r.left, r.top, r.right - r.left, r.bottom - r.top + ScaleToDevice(160), TRUE);
    }
}

int ComboBox::ItemIndex() const {
    if (hwnd_) return static_cast<int>(SendMessageW(hwnd_, CB_GETCURSEL, 0, 0));
    return itemIndex_;
}

void ComboBox::SetItemIndex(int v) {
    itemIndex_ = v;
    if (hwnd_) SendMessageW(hwnd_, CB_SETCURSEL, static_cast<WPARAM>(v), 0);
}

void ComboBox::SetStyle(ComboStyle v) {
    if (v == style_) return;
    style_ = v;
    if (hwnd_) {
        std::vector<std::string> items = items_.ToVector();
        int index = ItemIndex();
        RecreateHandle();
        items_.Assign(items);
        SetItemIndex(index);
    }
}

const PropertyTable& ComboBox::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        EnumProperty<ComboBox, ComboStyle>("Style", {"csDropDown", "csDropDownList"}, &ComboBox::Style,
                                           &ComboBox::SetStyle),
        StringsProperty<ComboBox>("Items", &ComboBox::Items),
        IntegerProperty<ComboBox>("ItemIndex", &ComboBox::ItemIndex, &ComboBox::SetItemIndex),
        StringProperty<ComboBox>("Text", &ComboBox::Text, &ComboBox::SetText),
    });
    return table;
}

// ======================================================================
// RadioGroup
// ======================================================================
RadioGroup::RadioGroup(Component* owner) : Control(owner) {
    items_.OnChange = [this] { RebuildButtons(); };
}

RadioGroup::~RadioGroup() { items_.OnChange = nullptr; }

Control::CreateParams RadioGroup::GetCreateParams() const { return {L"BUTTON", BS_GROUPBOX | WS_CLIPCHILDREN, 0}; }

void RadioGroup::HandleCreated() { RebuildButtons(); }

void RadioGroup::HandleDestroying() {
    // The buttons die with the group's window.
    buttons_.clear();
}

void RadioGroup::RebuildButtons() {
    for (HWND b : buttons_) DestroyWindow(b);
    buttons_.clear();
    if (!hwnd_) return;
    int n = items_.Count();
    int rowHeight = n > 0 ? std::max(16, (Height() - 24) / n) : 16;
    for (int i = 0; i < n; ++i) {
        DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? (WS_GROUP | WS_TABSTOP) : 0);
        HWND b = CreateWindowExW(0, L"BUTTON", ToWide(items_.Get(i)).c_str(), style, ScaleToDevice(8),
                                 ScaleToDevice(16 + i * rowHeight), ScaleToDevice(std::max(16, Width() - 16)),
                                 ScaleToDevice(16), hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(i + 1)),
                                 GetModuleHandleW(nullptr), nullptr);
        if (!b) RaiseLastError("Cannot create a radio button of " + Name());
        SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont().Handle()), FALSE);
        SendMessageW(b, BM_SETCHECK, i == itemIndex_ ? BST_CHECKED : BST_UNCHECKED, 0);
        buttons_.push_back(b);
    }
}

void RadioGroup::FontChanged() {
    Control::FontChanged();
    for (HWND b : buttons_) SendMessageW(b, WM_SETFONT, reinterpret_cast<WPARAM>(GetFont().Handle()), TRUE);
}

void RadioGroup::ScaleChanged(int oldDpi) {
    Control::ScaleChanged(oldDpi);
    RebuildButtons();
}

void RadioGroup::SetItemIndex(int v) {
    itemIndex_ = v;
    for (size_t i = 0; i < buttons_.size(); ++i)
        SendMessageW(buttons_[i], BM_SETCHECK, static_cast<int>(i) == v ? BST_CHECKED : BST_UNCHECKED, 0);
}

LRESULT RadioGroup::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        auto it = std::find(buttons_.begin(), buttons_.end(), reinterpret_cast<HWND>(lParam));
        if (it != buttons_.end()) {
            itemIndex_ = static_cast<int>(it - buttons_.begin());
            return 0;
        }
    }
    if (message == WM_CTLCOLORSTATIC || message == WM_CTLCOLORBTN) {
        auto it = std::find(buttons_.begin(), buttons_.end(), reinterpret_cast<HWND>(lParam));
        if (it != buttons_.end()) return reinterpret_cast<LRESULT>(CtlColor(reinterpret_cast<HDC>(wParam), message));
    }
    return Control::WindowProc(message, wParam, lParam);
}

const PropertyTable& RadioGroup::StaticProperties() {
    static const PropertyTable table(&Control::StaticProperties(), {
        StringProperty<RadioGroup>("Caption", &RadioGroup::Caption, &RadioGroup::SetCaption),
        StringsProperty<RadioGroup>("Items", &RadioGroup::Items),
        IntegerProperty<RadioGroup>("ItemIndex", &RadioGroup::ItemIndex, &RadioGroup::SetItemIndex),
    });
    return table;
}

}  // namespace qv
