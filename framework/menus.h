// Menus: a form's menu bar (MainMenu) and its items (MenuItem). Items nest
// in the form resource: an item inside a MainMenu is a top-level entry, an
// item inside another item an entry of that item's drop-down menu.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/action.h"
#include "framework/component.h"

namespace qv {

class MenuItem;

// Base of MainMenu and MenuItem: something that holds menu entries.
class MenuContainer {
public:
    virtual ~MenuContainer() = default;
    const std::vector<MenuItem*>& Items() const { return items_; }
    // The menu that holds the entries (created on demand).
    virtual HMENU EntriesMenu() = 0;

protected:
    friend class MenuItem;
    void AddEntry(MenuItem* item);
    void RemoveEntry(MenuItem* item);
    virtual void EntriesChanged() {}
    std::vector<MenuItem*> items_;
};

class MainMenu : public Component, public MenuContainer {
public:
    explicit MainMenu(Component* owner = nullptr);
    ~MainMenu() override;
    HMENU Handle() const { return menu_; }
    HMENU EntriesMenu() override { return menu_; }
    std::string ClassName() const override { return "MainMenu"; }

protected:
    void EntriesChanged() override;

private:
    HMENU menu_ = nullptr;
};

class MenuItem : public Component, public MenuContainer {
public:
    explicit MenuItem(Component* owner = nullptr);
    ~MenuItem() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& v);
    bool Checked() const { return checked_; }
    void SetChecked(bool v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);
    Action* GetAction() const { return actionLink_.Get(); }
    void SetAction(Action* action);
    NotifyEvent OnClick;
    void Click();

    UINT CommandId() const { return commandId_; }
    MenuContainer* ParentMenu() const { return parent_; }
    HMENU EntriesMenu() override;
    // The caption as the menu shows it (read back from the menu).
    std::string MenuText() const;

    void SetParentComponent(Component* parent) override;
    void Notification(Component* component, Operation operation) override;
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "MenuItem"; }

private:
    friend class MenuContainer;
    void UpdateEntry();
    MenuContainer* parent_ = nullptr;
    HMENU submenu_ = nullptr;
    std::string caption_;
    bool checked_ = false;
    bool enabled_ = true;
    ActionLink actionLink_;
    UINT commandId_;
};

// Runs the OnClick of the item with this command id; false when none.
bool DispatchMenuCommand(UINT id);

}  // namespace qv
