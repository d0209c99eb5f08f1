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

}  // namespace qv
