#include "framework/control_classes.h"

#include "framework/action.h"
#include "framework/common_controls.h"
#include "framework/controls.h"
#include "framework/file_dialogs.h"
#include "framework/form_reader.h"
#include "framework/graphics.h"
#include "framework/menus.h"
#include "framework/timer.h"

namespace qv {

void RegisterControlClasses() {
    RegisterColorConstants();
    RegisterIntegerConstant("DEFAULT_CHARSET", kDefaultCharset);
    RegisterIntegerConstant("CHINESEBIG5_CHARSET", kChineseBig5Charset);
    RegisterComponentClass<Label>("Label");
    RegisterComponentClass<Image>("Image");
    RegisterComponentClass<Button>("Button");
    RegisterComponentClass<CheckBox>("CheckBox");
    RegisterComponentClass<Edit>("Edit");
    RegisterComponentClass<Memo>("Memo");
    RegisterComponentClass<StatusBar>("StatusBar");
    RegisterComponentClass<ListBox>("ListBox");
    RegisterComponentClass<ComboBox>("ComboBox");
    RegisterComponentClass<RadioGroup>("RadioGroup");
    RegisterComponentClass<TabControl>("TabControl");
    RegisterComponentClass<HeaderControl>("HeaderControl");
    RegisterComponentClass<TreeView>("TreeView");
    RegisterComponentClass<ListView>("ListView");
    RegisterComponentClass<Timer>("Timer");
    RegisterComponentClass<MainMenu>("MainMenu");
    RegisterComponentClass<MenuItem>("MenuItem");
    RegisterComponentClass<OpenDialog>("OpenDialog");
    RegisterComponentClass<SaveDialog>("SaveDialog");
    RegisterComponentClass<Action>("Action");
}

}  // namespace qv
