#include "framework/action.h"

namespace qv {

bool Action::Execute() {
    if (!OnExecute) return false;
    OnExecute(this);
    return true;
}

const PropertyTable& Action::StaticProperties() {
    static const PropertyTable table(&Component::StaticProperties(), {
        StringProperty<Action>("Caption", &Action::Caption, &Action::SetCaption),
        StringProperty<Action>("Hint", &Action::Hint, &Action::SetHint),
        BooleanProperty<Action>("Enabled", &Action::Enabled, &Action::SetEnabled),
        EventProperty<Action>("OnExecute", &Action::OnExecute),
    });
    return table;
}

bool ActionLink::Set(Component& client, Action* action) {
    if (action == action_) return false;
    if (action_) client.RemoveFreeNotification(action_);
    action_ = action;
    if (action_) client.FreeNotification(action_);
    return action_ != nullptr;
}

void ActionLink::Notification(Component* component, Operation operation) {
    if (operation == Operation::opRemove && component == action_) action_ = nullptr;
}

void ActionLink::Click(Object* sender, const NotifyEvent& onClick) const {
    if (onClick) onClick(sender);
    else if (action_) action_->Execute();
}

}  // namespace qv
