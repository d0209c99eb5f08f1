#include "framework/menus.h"

#include <algorithm>
#include <map>

#include "framework/exception.h"
#include "framework/win32_text.h"

namespace qv {

namespace {
std::map<UINT, MenuItem*>& CommandItems() {
    static std::map<UINT, MenuItem*> items;
    return items;
}
UINT NextCommandId() {
    // Above the child window ids of forms (100 + component index).
    static UINT next = 0x4000;
    return next++;
}
}  // namespace

bool DispatchMenuCommand(UINT id) {
    auto it = CommandItems().find(id);
    if (it == CommandItems().end()) return false;
    it->second->Click();
    return true;
}

void MenuContainer::AddEntry(MenuItem* item) {
    items_.push_back(item);
    HMENU menu = EntriesMenu();
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof(mi);
    mi.fMask = MIIM_ID | MIIM_STRING | MIIM_STATE;
    mi.wID = item->commandId_;
    std::wstring text = ToWide(item->caption_);
    mi.dwTypeData = text.data();
    mi.fState = (item->checked_ ? MFS_CHECKED : 0) | (item->enabled_ ? 0 : MFS_DISABLED);
    InsertMenuItemW(menu, static_cast<UINT>(items_.size() - 1), TRUE, &mi);
    EntriesChanged();
}

void MenuContainer::RemoveEntry(MenuItem* item) {
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return;
    auto pos = static_cast<UINT>(it - items_.begin());
    items_.erase(it);
    // RemoveMenu keeps the item's own drop-down menu, which it destroys.
    RemoveMenu(EntriesMenu(), pos, MF_BYPOSITION);
    EntriesChanged();
}

MainMenu::MainMenu(Component* owner) : Component(owner), menu_(CreateMenu()) {
    if (!menu_) throw Exception("Cannot create a menu");
}

MainMenu::~MainMenu() {
    DestroyComponents();
    // Items owned elsewhere just forget us.
    for (MenuItem* item : std::vector<MenuItem*>(items_)) item->SetParentComponent(nullptr);
    if (menu_) DestroyMenu(menu_);
}

void MainMenu::EntriesChanged() {
    // A menu bar shown by a window is redrawn by that window.
    HWND w = nullptr;
    for (HWND h = GetTopWindow(nullptr); h; h = GetWindow(h, GW_HWNDNEXT))
        if (GetMenu(h) == menu_) w = h;
    if (w) DrawMenuBar(w);
}

MenuItem::MenuItem(Component* owner) : Component(owner), commandId_(NextCommandId()) {
    CommandItems()[commandId_] = this;
}

MenuItem::~MenuItem() {
    CommandItems().erase(commandId_);
    for (MenuItem* item : std::vector<MenuItem*>(items_)) item->SetParentComponent(nullptr);
    if (parent_) parent_->RemoveEntry(this);
    parent_ = nullptr;
    if (submenu_) DestroyMenu(submenu_);
}

HMENU MenuItem::EntriesMenu() {
    if (!submenu_) {
        submenu_ = CreatePopupMenu();
        if (!submenu_) throw Exception("Cannot create a menu");
        UpdateEntry();
    }
    return submenu_;
}

void MenuItem::SetParentComponent(Component* parent) {
    MenuContainer* container = dynamic_cast<MenuContainer*>(parent);
    if (container == parent_) return;
    if (parent_) parent_->RemoveEntry(this);
    parent_ = container;
    if (parent_) parent_->AddEntry(this);
}

void MenuItem::UpdateEntry() {
    if (!parent_) return;
    auto& list = parent_->items_;
    auto it = std::find(list.begin(), list.end(), this);
    if (it == list.end()) return;
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof(mi);
    mi.fMask = MIIM_STRING | MIIM_STATE | MIIM_SUBMENU;
    std::wstring text = ToWide(caption_);
    mi.dwTypeData = text.data();
    mi.fState = (checked_ ? MFS_CHECKED : 0) | (enabled_ ? 0 : MFS_DISABLED);
    mi.hSubMenu = submenu_;
    SetMenuItemInfoW(parent_->EntriesMenu(), static_cast<UINT>(it - list.begin()), TRUE, &mi);
    parent_->EntriesChanged();
}

std::string MenuItem::MenuText() const {
    if (!parent_) return caption_;
    auto& list = parent_->items_;
    auto it = std::find(list.begin(), list.end(), this);
    if (it == list.end()) return caption_;
    wchar_t buf[512] = {};
    MENUITEMINFOW mi{};
    mi.cbSize = sizeof(mi);
    mi.fMask = MIIM_STRING;
    mi.dwTypeData = buf;
    mi.cch = 511;
    GetMenuItemInfoW(parent_->EntriesMenu(), static_cast<UINT>(it - list.begin()), TRUE, &mi);
    return FromWide(buf);
}

void MenuItem::SetCaption(const std::string& v) {
    caption_ = v;
    UpdateEntry();
}

void MenuItem::SetChecked(bool v) {
    checked_ = v;
    UpdateEntry();
}

void MenuItem::SetEnabled(bool v) {
    enabled_ = v;
    UpdateEntry();
}

void MenuItem::SetAction(Action* action) {
    if (actionLink_.Set(*this, action)) SetCaption(action->Caption());
}

void MenuItem::Notification(Component* component, Operation operation) {
    actionLink_.Notification(component, operation);
    Component::Notification(component, operation);
}

void MenuItem::Click() { actionLink_.Click(this, OnClick); }

const PropertyTable& MenuItem::StaticProperties() {
    static const PropertyTable table(&Component::StaticProperties(), {
        StringProperty<MenuItem>("Caption", &MenuItem::Caption, &MenuItem::SetCaption),
        BooleanProperty<MenuItem>("Checked", &MenuItem::Checked, &MenuItem::SetChecked),
        BooleanProperty<MenuItem>("Enabled", &MenuItem::Enabled, &MenuItem::SetEnabled),
        ReferenceProperty<MenuItem, Action>("Action", &MenuItem::GetAction, &MenuItem::SetAction),
        EventProperty<MenuItem>("OnClick", &MenuItem::OnClick),
    });
    return table;
}

}  // namespace qv
