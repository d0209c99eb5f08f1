// Thin control classes over Win32 controls (W APIs; narrow program texts are
// converted with code page 950 at the boundary).
//
// Every control is a real child window. It creates its window as soon as it
// has a parent with a window (the form reader sets the parent before the
// properties), and keeps its settings in fields too, so a setting made
// before that is applied at creation. A control whose window style must
// change (a memo's word wrap) recreates its window, keeping its text.
//
// The parent reflects WM_COMMAND, WM_NOTIFY and WM_CTLCOLOR* back to the
// child's object (every control window is subclassed), so a button hears
// its own click. Exceptions that escape a handler go to the application's
// standard exception report.
//
// Display scaling: a control's Left, Top, Width and Height and its font's
// Height are layout units, pixels at its form's design DPI (PixelsPerInch,
// 96). Its window gets them scaled to the DPI of the monitor the form is
// on, rectangles by their edges (scaling_core.h), fonts made at that DPI,
// so a window keeps its proportions and sharp texts at any display scaling
// and when it moves to a monitor of another DPI. What a control measures
// in device pixels (a label's text) goes back into layout units rounded
// up, so that it is never cut off.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/action.h"
#include "framework/component.h"
#include "framework/graphics.h"
#include "framework/string_list.h"

namespace qv {

class Control : public Component {
public:
    explicit Control(Component* owner = nullptr);
    ~Control() override;

    // ---- geometry (client coordinates of the parent) ----
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int left, int top, int width, int height);

    Control* Parent() const { return parent_; }
    void SetParent(Control* parent);
    void SetParentComponent(Component* parent) override;

    bool Visible() const { return visible_; }
    virtual void SetVisible(bool v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& v) { hint_ = v; }
    // Position in the keyboard (Tab) order among the parent's controls;
    // -1 for controls that take no focus.
    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int v);
    bool TabStop() const { return tabStop_; }
    void SetTabStop(bool v);

    Font& GetFont() { return font_; }
    const Font& GetFont() const { return font_; }
    // True while the control shows its parent's font; setting any font
    // attribute makes it false.
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool v);
    Color GetColor() const { return color_; }
    void SetColor(Color v);

    // The window text (caption of labels and buttons, text of edits).
    virtual std::string GetText() const;
    virtual void SetText(const std::string& text);

    HWND Handle() const { return hwnd_; }
    bool HandleAllocated() const { return hwnd_ != nullptr; }
    // The child window id: 100 + the control's index among its owner's
    // components (stable for a given form resource; never IDOK/IDCANCEL).
    int ControlId() const;
    // The window a child of this control is created in.
    virtual HWND ClientHandle() const { return hwnd_; }

    void SetFocus();

    // ---- display scaling ----
    // The DPI this control is laid out at (its form's monitor) and the
    // design DPI of its layout units; 96 for both outside a form.
    virtual int CurrentDpi() const;
    virtual int DesignDpi() const;
    // A length in layout units in device pixels.
    int ScaleToDevice(int v) const;
    // The control's rectangle in its parent's client area, in device
    // pixels (scaled by its edges).
    RECT DeviceBounds() const;

    // Found from a window handle of this program (nullptr for others).
    static Control* FromHandle(HWND hwnd);

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Control"; }

    // The window property that links a control window to its object.
    static constexpr const wchar_t* kHandleProperty = L"QvControl";
    // Creates the windows of children made before this control had one.
    void CreateChildHandles();

    // The parent's children in Tab order (controls with TabOrder >= 0 first,
    // by TabOrder, then the others in creation order).
    std::vector<Control*> ChildrenInTabOrder() const;
    // Puts the children's windows into Tab order (the dialog manager walks
    // the z-order).
    void UpdateTabOrder();
    void Loaded() override;

protected:
    struct CreateParams {
        const wchar_t* className = L"STATIC";
        DWORD style = 0;
        DWORD exStyle = 0;
    };
    virtual CreateParams GetCreateParams() const = 0;
    // Creates the window when the parent has one; pushes the settings.
    void CreateHandle();
    // Called right after the window exists: push control-specific state.
    virtual void HandleCreated() {}
    // Called just before the window goes: save control-specific state.
    virtual void HandleDestroying() {}
    void DestroyHandle();
    void RecreateHandle();

    // Notifications reflected by the parent. Return true when handled.
    virtual bool Command(WORD code) { (void)code; return false; }
    virtual bool Notify(NMHDR* header, LRESULT& result) { (void)header; (void)result; return false; }
    // Colours for WM_CTLCOLOR*: null keeps the system's.
    virtual HBRUSH CtlColor(HDC dc, UINT message);
    // The window procedure of this control's own window (subclass); the
    // default reflects children's notifications and calls the original.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Shared by forms: reflects a child notification; true when handled.
    static bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    virtual void FontChanged();
    void ParentFontChanged();
    // The form's DPI changed from oldDpi to CurrentDpi(): this control's
    // font, window rectangle and whatever else it sizes in pixels follow,
    // then its children's.
    void ApplyScale(int oldDpi);
    // What a control does beyond font and rectangle (the default puts the
    // window at its scaled rectangle).
    virtual void ScaleChanged(int oldDpi);
    // Makes the font's GDI font at the control's scale (not a change of
    // the font's attributes: ParentFont stays as it is).
    void SyncFontScale();
    void ParentColorChanged();
    // Creating the window of a form (top level) is the form's own business.
    virtual bool IsTopLevel() const { return false; }

    HWND hwnd_ = nullptr;
    std::string text_;
    bool parentColor_ = true;

private:
    friend class Form;
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void OnFontChange();

    Control* parent_ = nullptr;
    std::vector<Control*> children_;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    std::string hint_;
    int tabOrder_ = -1;
    bool tabStop_ = false;
    Font font_;
    bool parentFont_ = true;
    bool copyingFont_ = false;
    Color color_ = clBtnFace;
    bool subclassed_ = false;
};

// ---- static texts and pictures ----------------------------------------
// A one-line text. With AutoSize (the default) the label takes the size of
// its text in its font whenever either changes, so a translated caption is
// never cut off.
class Label : public Control {
public:
    explicit Label(Component* owner = nullptr);
    std::string Caption() const { return GetText(); }
    void SetCaption(const std::string& v) { SetText(v); }
    void SetText(const std::string& text) override;
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool v);
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Label"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override { AdjustSize(); }
    void FontChanged() override;

private:
    void AdjustSize();
    bool autoSize_ = true;
};

// Shows an icon from the program's resources (IconResource names it).
class Image : public Control {
public:
    explicit Image(Component* owner = nullptr);
    ~Image() override;
    const std::string& IconResource() const { return iconResource_; }
    void SetIconResource(const std::string& v);
    HICON Icon() const { return icon_; }
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Image"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;
    void ScaleChanged(int oldDpi) override;

private:
    // The icon at the size it is drawn at (32 layout pixels).
    void LoadIconImage();
    std::string iconResource_;
    HICON icon_ = nullptr;
};

// ---- buttons ----------------------------------------------------------
// Base of push buttons and check boxes: caption, OnClick and the action link.
class ButtonControl : public Control {
public:
    using Control::Control;
    std::string Caption() const { return GetText(); }
    void SetCaption(const std::string& v) { SetText(v); }
    Action* GetAction() const { return actionLink_.Get(); }
    // Takes the action's caption; clicks run the action when there is no
    // OnClick.
    void SetAction(Action* action);
    // What a click does (also BM_CLICK from outside).
    virtual void Click();
    NotifyEvent OnClick;
    void Notification(Component* component, Operation operation) override;

protected:
    bool Command(WORD code) override;
    ActionLink actionLink_;
};

// Keys (Form::DialogKey): Enter clicks the focused button, or the form's
// Default button when the focused control is no button and takes no Enter
// itself; Esc clicks the form's Cancel button.
class Button : public ButtonControl {
public:
    explicit Button(Component* owner = nullptr);
    bool Default() const { return default_; }
    void SetDefault(bool v);
    bool Cancel() const { return cancel_; }
    void SetCancel(bool v) { cancel_ = v; }
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Button"; }

protected:
    CreateParams GetCreateParams() const override;

private:
    bool default_ = false;
    bool cancel_ = false;
};

class CheckBox : public ButtonControl {
public:
    explicit CheckBox(Component* owner = nullptr);
    bool Checked() const;
    void SetChecked(bool v);
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "CheckBox"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;
    void HandleDestroying() override;
    void FontChanged() override;
    bool Command(WORD code) override;

private:
    bool checked_ = false;
};

// ---- edits -------------------------------------------------------------
class Edit : public Control {
public:
    explicit Edit(Component* owner = nullptr);
    std::string Text() const { return GetText(); }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v);
    NotifyEvent OnChange;
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Edit"; }

protected:
    CreateParams GetCreateParams() const override;
    bool Command(WORD code) override;

private:
    bool readOnly_ = false;
};

enum class ScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class Memo;

// The lines of a memo, kept by the edit control itself (word-wrapped memos
// count wrapped lines as the control shows them).
class MemoLines : public StringList {
public:
    explicit MemoLines(Memo& memo) : memo_(memo) {}
    int Count() const override;
    std::string Get(int index) const override;
    void Put(int index, std::string_view s) override;
    void Insert(int index, std::string_view s) override;
    void Delete(int index) override;
    void Clear() override;

private:
    friend class Memo;
    Memo& memo_;
};

class Memo : public Control {
public:
    explicit Memo(Component* owner = nullptr);
    // The whole text; CR and LF alone are taken as line breaks too and
    // stored as CR LF, the line break of the edit control.
    void SetText(const std::string& text) override;
    MemoLines& Lines() { return lines_; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v);
    bool WordWrap() const { return wordWrap_; }
    void SetWordWrap(bool v);
    ScrollStyle ScrollBars() const { return scrollBars_; }
    void SetScrollBars(ScrollStyle v);
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Memo"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;

private:
    friend class MemoLines;
    MemoLines lines_;
    bool readOnly_ = false;
    bool wordWrap_ = true;
    ScrollStyle scrollBars_ = ScrollStyle::ssNone;
};

// ---- status bar --------------------------------------------------------
class StatusBar;

class StatusPanels : public StringList {
public:
    explicit StatusPanels(StatusBar& bar) : bar_(bar) {}
    int Count() const override;
    std::string Get(int index) const override;
    void Put(int index, std::string_view s) override;
    void Insert(int index, std::string_view s) override;
    void Delete(int index) override;
    void Clear() override;

private:
    StatusBar& bar_;
};

// A status bar where the form puts it (not docked). In simple mode it shows
// SimpleText across its whole width; otherwise its panels, of equal width.
class StatusBar : public Control {
public:
    explicit StatusBar(Component* owner = nullptr);
    bool SimplePanel() const { return simplePanel_; }
    void SetSimplePanel(bool v);
    const std::string& SimpleText() const { return simpleText_; }
    void SetSimpleText(const std::string& v);
    StatusPanels& Panels() { return panels_; }
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "StatusBar"; }
    void SetBounds(int left, int top, int width, int height) override;

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;

private:
    friend class StatusPanels;
    void ApplyPanels();
    StatusPanels panels_;
    std::vector<std::string> panelTexts_;
    bool simplePanel_ = true;
    std::string simpleText_;
};

// ---- lists -------------------------------------------------------------
class ListBox;
class ComboBox;

// Items kept by a list box or combo box window (before the window exists,
// in the list itself).
class ControlItems : public StringList {
public:
    struct Messages {
        UINT getCount, getTextLen, getText, insert, remove, reset, getCurSel, setCurSel;
    };
    ControlItems(Control& control, const Messages& m) : control_(control), m_(m) {}
    int Count() const override;
    std::string Get(int index) const override;
    void Put(int index, std::string_view s) override;
    void Insert(int index, std::string_view s) override;
    void Delete(int index) override;
    void Clear() override;
    // Moves items kept before the window existed into it.
    void Flush();

private:
    Control& control_;
    Messages m_;
};

class ListBox : public Control {
public:
    explicit ListBox(Component* owner = nullptr);
    ControlItems& Items() { return items_; }
    int ItemIndex() const;
    void SetItemIndex(int v);
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "ListBox"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;

private:
    ControlItems items_;
    int itemIndex_ = -1;
};

enum class ComboStyle { csDropDown, csDropDownList };

class ComboBox : public Control {
public:
    explicit ComboBox(Component* owner = nullptr);
    ControlItems& Items() { return items_; }
    int ItemIndex() const;
    void SetItemIndex(int v);
    std::string Text() const { return GetText(); }
    ComboStyle Style() const { return style_; }
    void SetStyle(ComboStyle v);
    void SetBounds(int left, int top, int width, int height) override;
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "ComboBox"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;

private:
    ControlItems items_;
    int itemIndex_ = -1;
    ComboStyle style_ = ComboStyle::csDropDown;
};

// A group box with one radio button per item, in one column.
class RadioGroup : public Control {
public:
    explicit RadioGroup(Component* owner = nullptr);
    ~RadioGroup() override;
    std::string Caption() const { return GetText(); }
    void SetCaption(const std::string& v) { SetText(v); }
    StringList& Items() { return items_; }
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int v);
    // The radio button windows (for tests and the UI driver).
    const std::vector<HWND>& Buttons() const { return buttons_; }
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "RadioGroup"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;
    void HandleDestroying() override;
    void FontChanged() override;
    void ScaleChanged(int oldDpi) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void RebuildButtons();
    StringList items_;
    std::vector<HWND> buttons_;
    int itemIndex_ = -1;
};

}  // namespace qv
