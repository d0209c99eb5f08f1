// Form: a top-level window read from its form resource.
//
// A window class derives from Form, registers its handlers by name in its
// constructor (RegisterHandler) and is made with CreateForm<T>(): the
// window is created, the RCDATA resource named after the class in upper
// case ("GETUPDATEFILE") is read into it (form_reader.h), OnCreate runs,
// and the window is shown when the resource marks it Visible.
//
// Finding controls from outside (the UI driver): every form answers the
// registered message "QvFindControl" (wParam = a global atom holding a
// component name, case-insensitive) with the window handle of that control,
// of the form itself for the form's own name, or 0. Window class names are
// the forms' class names, so a driver finds the window by class.
//
// Display scaling (controls.h): the form's layout units are pixels at its
// design DPI, PixelsPerInch (96). The form takes the DPI of the monitor its
// window is on when the window is made and again whenever the system moves
// it to a monitor of another DPI (WM_DPICHANGED): its client area
// (ClientWidth, ClientHeight, in layout units), every control's rectangle
// and every font follow. The form's own Left, Top, Width and Height are its
// frame on the screen, in screen pixels.
//
// Keys (DialogKey): Tab and Shift+Tab move the focus in the Tab order,
// Enter clicks the focused button, Esc the Cancel button.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "framework/controls.h"
#include "framework/form_reader.h"

namespace qv {

class MainMenu;

enum class CloseAction { caNone, caHide, caFree, caMinimize };
using CloseEvent = std::function<void(Object* Sender, CloseAction& Action)>;
enum class FormPosition { poDesigned, poScreenCenter };
enum class FormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog };

class Form : public Control {
public:
    explicit Form(Component* owner = nullptr);
    ~Form() override;
    // Close before delete: OnDestroy runs, then the form's components are
    // closed and freed while the form and its window are still whole (a
    // form's destructor body then finds them gone). A form deleted plainly
    // does the same from its destructor, after the derived destructors.
    void BeforeDestruction() override;

    std::string Caption() const { return GetText(); }
    void SetCaption(const std::string& v) { SetText(v); }
    int ClientWidth() const;
    int ClientHeight() const;
    void SetClientWidth(int v);
    void SetClientHeight(int v);
    FormPosition Position() const { return position_; }
    void SetPosition(FormPosition v) { position_ = v; }
    FormBorderStyle BorderStyle() const { return borderStyle_; }
    void SetBorderStyle(FormBorderStyle v);
    MainMenu* Menu() const { return menu_; }
    void SetMenu(MainMenu* menu);
    const std::string& IconResource() const { return iconResource_; }
    void SetIconResource(const std::string& v);
    // The DPI the form's layout units are pixels at; set it before the
    // controls.
    int PixelsPerInch() const { return designDpi_; }
    void SetPixelsPerInch(int v);
    int CurrentDpi() const override { return dpi_; }
    int DesignDpi() const override { return designDpi_; }
    // Lays the form out for another DPI (what WM_DPICHANGED does, without
    // moving the window).
    void ChangeDpi(int dpi);

    // A key pressed in the form, before the focused control sees it (the
    // application's message loop asks): Tab and Shift+Tab move the focus to
    // the next or the previous control of the Tab order, from a multi-line
    // text box too (Ctrl+Tab stays with the control); Enter clicks the
    // focused push button, or the Default button unless the focused control
    // takes Enter itself; Esc clicks the Cancel button. A button that is
    // hidden or disabled is not clicked. True when the key was used.
    bool DialogKey(const MSG& msg);

    void SetVisible(bool v) override;
    void SetBounds(int left, int top, int width, int height) override;
    void Show();
    void Hide();
    // Sends WM_CLOSE: OnClose decides what happens (hidden by default).
    void Close();

    NotifyEvent OnCreate;
    NotifyEvent OnDestroy;
    CloseEvent OnClose;

    // Creates the window now (children made so far get theirs too).
    void HandleNeeded();
    HWND ClientHandle() const override { return hwnd_; }

    // Handlers the form resource binds by name.
    HandlerTable& Handlers() { return handlers_; }
    template <class T, class... A>
    void RegisterHandler(const std::string& name, void (T::*method)(A...)) {
        T* self = static_cast<T*>(this);
        handlers_.Add(name, std::function<void(A...)>([self, method](A... args) { (self->*method)(args...); }));
    }

    // Reads the RCDATA resource (default: the class name in upper case) of
    // the program into this form.
    void ReadFormResource(const std::string& resourceName = "");
    // Window, resource, OnCreate, then shown when Visible.
    void Create(const std::string& resourceName = "");

    static UINT FindControlMessage();
    // The window property that marks a form's window: keys pressed in it
    // move the focus between its controls (Application's message loop).
    static constexpr const wchar_t* kFormProperty = L"QvForm";

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Form"; }
    void Notification(Component* component, Operation operation) override;

protected:
    CreateParams GetCreateParams() const override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool IsTopLevel() const override { return true; }
    virtual void DoCreate();
    virtual void DoClose(CloseAction& action);

private:
    static LRESULT CALLBACK FormProc(HWND, UINT, WPARAM, LPARAM);
    void RegisterWindowClass();
    void ApplyClientSize();
    void CenterOnScreen();
    // The visible, enabled button of the form's controls that pred picks.
    Button* FindButton(bool (*pred)(const Button&)) const;

    HandlerTable handlers_;
    int clientWidth_ = 0, clientHeight_ = 0;
    FormPosition position_ = FormPosition::poDesigned;
    FormBorderStyle borderStyle_ = FormBorderStyle::bsSizeable;
    MainMenu* menu_ = nullptr;
    std::string iconResource_;
    HICON icon_ = nullptr;
    int dpi_;
    int designDpi_ = 96;
    HWND lastFocus_ = nullptr;
    bool creating_ = false;
    bool shownOnce_ = false;
    bool onDestroyDone_ = false;

    void RunOnDestroy();
};

// Makes a form of class T (see the top of this file). The form is freed
// (closed before it is deleted) when the pointer lets it go.
template <class T>
ComponentPtr<T> CreateForm(Component* owner = nullptr) {
    ComponentPtr<T> form(new T(owner));
    form->Create();
    return form;
}

}  // namespace qv
