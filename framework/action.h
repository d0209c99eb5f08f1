// Action: a command that buttons, check boxes and menu items can be linked
// to. A control whose Action is set takes the action's caption and runs
// its OnExecute when clicked (unless the control has an OnClick of its own).
#pragma once

#include <string>

#include "framework/component.h"

namespace qv {

class Action : public Component {
public:
    using Component::Component;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& v) { caption_ = v; }
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& v) { hint_ = v; }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v) { enabled_ = v; }
    // Runs OnExecute; false when there is none.
    bool Execute();

    NotifyEvent OnExecute;

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "Action"; }

private:
    std::string caption_;
    std::string hint_;
    bool enabled_ = true;
};

// The link of a button, check box or menu item to its Action. The linked
// component (the client) watches the action, so an action destroyed first
// leaves no dangling link; a click runs the client's OnClick or, when it has
// none, the action.
class ActionLink {
public:
    Action* Get() const { return action_; }
    // Links `client` to `action` (or to none); true when a new action was
    // linked, whose caption the client then takes.
    bool Set(Component& client, Action* action);
    // From the client's Notification: forgets an action being destroyed.
    void Notification(Component* component, Operation operation);
    void Click(Object* sender, const NotifyEvent& onClick) const;

private:
    Action* action_ = nullptr;
};

}  // namespace qv
