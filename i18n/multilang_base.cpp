#include "i18n/multilang_base.h"

#include <algorithm>
#include <filesystem>

#include "framework/dialogs.h"
#include "framework/exception.h"
#include "framework/properties.h"
#include "framework/text.h"

namespace qv {

namespace {

std::vector<BaseMultiLang*>& Registry() {
    static std::vector<BaseMultiLang*> registry;
    return registry;
}

int& GlobalLanguageRef() {
    static int language = 0;
    return language;
}

// Byte-typed settings: 0..255.
int CheckByte(int n, const char* what) {
    if (n < 0 || n > 255) throw EPropertyError(std::string(what) + " must lie between 0 and 255");
    return n;
}

void ShowOutOfRange() { MessageDlg(kOutOfRangeText, MsgDlgType::mtInformation, mbCancel); }

bool Ask(const std::string& text, MsgDlgType type) { return MessageDlg(text, type, mbYesNo) == mrYes; }

// The properties a position entry holds, in its order.
const char* const kPositionProperties[] = {"Left", "Top", "Width", "Height"};

// The owner's font object with a Name and a CharSet, or none.
Persistent* OwnerFont(Component* owner) {
    if (!owner || !HasProperty(*owner, "Font", PropKind::Object)) return nullptr;
    return GetObjectProp(*owner, "Font");
}

}  // namespace

const std::vector<BaseMultiLang*>& MultiLangRegistry() { return Registry(); }
int GlobalLanguage() { return GlobalLanguageRef(); }

std::string& LanguageModuleName() {
    static std::string name;
    return name;
}

void SetGlobalLanguage(int n) {
    size_t count = Registry().size();
    for (size_t i = 0; i < count && i < Registry().size(); ++i) {
        BaseMultiLang* m = Registry()[i];
        if (m->Languages() > n) m->SetActiveLanguage(n);
    }
    GlobalLanguageRef() = n;
}

BaseMultiLang::BaseMultiLang(Component* owner) : Component(owner) { Registry().push_back(this); }

BaseMultiLang::~BaseMultiLang() { std::erase(Registry(), this); }

RowSettings BaseMultiLang::Settings() const {
    return RowSettings{languages_, activeLanguage_, defaultEnabled_, defaultLanguage_};
}

// ---------------------------------------------------------------------------
// The switch
// ---------------------------------------------------------------------------
void BaseMultiLang::SetActiveLanguage(int n) {
    if (n < 0 || n >= languages_) {
        ShowOutOfRange();
        return;
    }
    bool allow = true;
    if (BeforeLanguageChange) BeforeLanguageChange(this, static_cast<uint8_t>(n), allow);
    if (!allow) return;
    RememberFont();
    Component* owner = Owner();
    if (owner) {
        SavePositions(*owner, true);
        for (int i = 0; i < owner->ComponentCount(); ++i) SavePositions(*owner->Components(i), false);
    }
    activeLanguage_ = n;
    ApplyFont();
    if (owner) ApplyPositions(*owner, true);
    WalkTable();
    if (AfterLanguageChanged) AfterLanguageChanged(this, static_cast<uint8_t>(n));
}

void BaseMultiLang::RememberFont() {
    Persistent* font = OwnerFont(Owner());
    if (!font || !HasProperty(*font, "Name", PropKind::String) || !HasProperty(*font, "CharSet", PropKind::Integer)) return;
    std::string entry = GetStrProp(*font, "Name") + "," + IntToStr(GetOrdProp(*font, "CharSet"));
    // Room for every language and for the outgoing one (which may lie
    // beyond Languages after a reduction).
    while (charSets_.Count() < std::max(languages_, activeLanguage_ + 1)) charSets_.Add(entry);
    charSets_.Put(activeLanguage_, entry);
}

void BaseMultiLang::ApplyFont() {
    if (activeLanguage_ >= charSets_.Count()) return;
    std::string entry = charSets_.Get(activeLanguage_);
    size_t comma = entry.find(',');
    std::string name = entry.substr(0, comma);
    // A character set that is no number raises the conversion error.
    int32_t charset = StrToInt(comma == std::string::npos ? std::string() : entry.substr(comma + 1));
    Persistent* font = OwnerFont(Owner());
    if (!font) return;
    if (HasProperty(*font, "Name", PropKind::String)) SetStrProp(*font, "Name", name);
    if (HasProperty(*font, "CharSet", PropKind::Integer)) SetOrdProp(*font, "CharSet", charset);
}

void BaseMultiLang::WalkTable() {
    Component* owner = Owner();
    int i = 0;
    while (i < words_.Count()) {
        int step = languages_ + 1;
        std::string key;
        Component* component = nullptr;
        try {
            key = words_.Get(i);
            if (key != kFormKey && owner) component = owner->FindComponent(key);
        } catch (...) {
            // A key that cannot be read ends the walk.
            i = std::max(99999, words_.Count());
            continue;
        }
        if (key == kFormKey) {
            RowCursor cursor = Cursor(i);
            std::string text;
            if (owner && HasProperty(*owner, "Caption", PropKind::String) && cursor.TakeRow(text))
                SetStrProp(*owner, "Caption", text);
            i += step;
            continue;
        }
        if (!component) {
            i += step;
            continue;
        }
        int row = i;
        try {
            ApplyTexts(component, row);
        } catch (...) {
            // Dropped: the other rows are still applied.
        }
        // Always forward: past the rows taken, or past the key row.
        i = row > i ? row : i + step;
    }
}

bool BaseMultiLang::ShouldTranslate(Component* component) const {
    if (!component) return false;
    if (translateEdits_ == TranslateEdits::teAlways) return true;
    if (HasProperty(*component, "Action", PropKind::Reference) && GetReferenceProp(*component, "Action")) return false;
    if (HasProperty(*component, "ReadOnly", PropKind::Boolean) &&
        (HasProperty(*component, "Text") || HasProperty(*component, "Lines"))) {
        if (translateEdits_ == TranslateEdits::teNever) return false;
        return GetBoolProp(*component, "ReadOnly");
    }
    return true;
}

// ---------------------------------------------------------------------------
// Settings
// ---------------------------------------------------------------------------
void BaseMultiLang::SetDefaultLanguage(int n) {
    CheckByte(n, "DefaultLanguage");
    if (n >= languages_) {
        ShowOutOfRange();
        return;
    }
    if (n == defaultLanguage_) return;
    defaultLanguage_ = n;
    SetActiveLanguage(activeLanguage_);
}

void BaseMultiLang::SetDefaultEnabled(bool v) {
    if (v == defaultEnabled_) return;
    defaultEnabled_ = v;
    SetActiveLanguage(activeLanguage_);
}

void BaseMultiLang::SetLanguages(int n) {
    CheckByte(n, "Languages");
    const int old = languages_;
    if (n == old) return;
    if (n < old && !Loading()) {
        if (n == 0) {
            MessageDlg(kNoLanguageText, MsgDlgType::mtInformation, mbOK);
            return;
        }
        if (activeLanguage_ >= n) {
            if (!Ask(kDropActiveLanguageText, MsgDlgType::mtConfirmation)) return;
            SetActiveLanguage(0);
        } else if (!Ask(kDropLanguageText, MsgDlgType::mtConfirmation)) {
            return;
        }
    }
    // Rows are located from the end: the last row starts at count - 1 - old.
    if (n < old) {
        for (int start = words_.Count() - 1 - old; start >= 0; start -= old + 1)
            for (int k = start + old; k >= start + n + 1; --k) words_.Delete(k);
    } else {
        for (int start = words_.Count() - 1 - old; start >= 0; start -= old + 1)
            for (int k = 0; k < n - old; ++k) words_.Insert(start + old + 1, "?");
    }
    languages_ = n;
}

void BaseMultiLang::SetSwitchPositions(SwitchPositions m) {
    if (m == switchPositions_) return;
    auto differs = [](const std::string& entry) {
        std::vector<std::string> items = Split(entry, ',');
        for (size_t k = 2; k < items.size(); ++k)
            if (items[k] != items[1]) return true;
        return false;
    };
    if (m == SwitchPositions::spNone) {
        for (int i = positions_.Count() - 1; i >= 0; --i) {
            if (!differs(positions_.Get(i))) continue;
            if (!Ask(kDropPositionsText, MsgDlgType::mtWarning)) {
                ShowMessage(kCancelledText);
                return;
            }
        }
        positions_.Clear();
        switchPositions_ = m;
        return;
    }
    if (m == SwitchPositions::spControlsOnly && switchPositions_ == SwitchPositions::spFormAndControls) {
        for (int i = 0; i < positions_.Count(); ++i) {
            if (!positions_.Get(i).starts_with(kFormKey + ",")) continue;
            if (differs(positions_.Get(i)) && !Ask(kDropFormPositionsText, MsgDlgType::mtWarning)) {
                ShowMessage(kCancelledText);
                return;
            }
            positions_.Delete(i);
            break;
        }
    }
    switchPositions_ = m;
}

// ---------------------------------------------------------------------------
// Positions
// ---------------------------------------------------------------------------
std::string BaseMultiLang::PositionKey(Persistent& object, bool isForm) const {
    if (switchPositions_ == SwitchPositions::spNone) return {};
    if (isForm && switchPositions_ == SwitchPositions::spControlsOnly) return {};
    if (isForm) return kFormKey;
    auto* c = dynamic_cast<Component*>(&object);
    return c ? LowerCase(c->Name()) : std::string();
}

int BaseMultiLang::FindPositionEntry(const std::string& key) const {
    // The last entry with the key counts.
    for (int i = positions_.Count() - 1; i >= 0; --i)
        if (positions_.Get(i).starts_with(key + ",")) return i;
    return -1;
}

void BaseMultiLang::SavePositions(Persistent& object, bool isForm) {
    if (languages_ == 0) return;
    std::string key = PositionKey(object, isForm);
    if (key.empty()) return;
    std::vector<std::string> parts;
    for (const char* name : kPositionProperties)
        parts.push_back(HasProperty(object, name, PropKind::Integer) ? IntToStr(GetOrdProp(object, name)) : "");
    std::string p = Join(parts, ".");
    if (p == "...") return;
    int index = FindPositionEntry(key);
    if (index >= 0) {
        std::vector<std::string> items = Split(positions_.Get(index), ',');
        auto needed = static_cast<size_t>(std::max(languages_, activeLanguage_ + 1) + 1);
        while (items.size() < needed) items.emplace_back();
        items[static_cast<size_t>(activeLanguage_ + 1)] = p;
        positions_.Put(index, Join(items, ","));
    } else {
        std::string entry = key;
        for (int k = 0; k < languages_; ++k) entry += "," + p;
        positions_.Add(entry);
    }
}

void BaseMultiLang::ApplyPositions(Persistent& object, bool isForm) {
    std::string key = PositionKey(object, isForm);
    if (key.empty()) return;
    int index = FindPositionEntry(key);
    if (index < 0) return;
    std::vector<std::string> items = Split(positions_.Get(index), ',');
    if (static_cast<int>(items.size()) < activeLanguage_ + 2) return;
    std::string rest = items[static_cast<size_t>(activeLanguage_ + 1)] + ".";
    for (const char* name : kPositionProperties) {
        size_t dot = rest.find('.');
        if (dot == std::string::npos) break;
        std::string part = rest.substr(0, dot);
        rest.erase(0, dot + 1);
        // An empty or non-numeric part leaves that property as it is.
        if (auto value = TryStrToInt(part); value && HasProperty(object, name, PropKind::Integer))
            SetOrdProp(object, name, *value);
    }
}

// ---------------------------------------------------------------------------
// Loading and the text module
// ---------------------------------------------------------------------------
void BaseMultiLang::Loaded() {
    Component::Loaded();
    if (Designing()) return;
    SetActiveLanguage(GlobalLanguage());
    std::string& module = LanguageModuleName();
    if (!module.empty()) {
        if (LanguageModuleExists(module)) LoadFromModule();
        else module = ExtractFileName(module);
    }
}

bool BaseMultiLang::LanguageModuleExists(const std::string& fileName) const {
    std::error_code ec;
    return std::filesystem::is_regular_file(fileName, ec);
}

void BaseMultiLang::LoadFromModule() {
    throw Exception("Cannot load string DLL \"" + LanguageModuleName() + "\".");
}

bool BaseMultiLang::LoadTableFromStrings(const std::function<std::optional<std::string>(unsigned id)>& lookup) {
    Component* owner = Owner();
    if (!owner) return false;
    const std::string className = LowerCase(owner->ClassName());
    const std::string name = LowerCase(owner->Name());
    unsigned header = 0;
    for (unsigned id = 1000; id <= 0xFFFF; id += 100) {
        std::optional<std::string> text = lookup(id);
        if (!text) return false;
        if (text->size() <= 2) continue;
        std::string rest = LowerCase(ExtractFileName(text->substr(1)));
        if (((*text)[0] == '%' && rest == className) || ((*text)[0] == '$' && rest == name)) {
            header = id;
            break;
        }
    }
    if (!header) return false;
    // One language from the module; stored directly, the switch below
    // applies it once.
    defaultLanguage_ = 0;
    activeLanguage_ = 0;
    languages_ = 1;
    words_.Clear();
    for (unsigned id = header + 1; id <= 0xFFFF; ++id) {
        std::string text = lookup(id).value_or("");
        if (text.empty() && words_.Count() % 2 == 0) break;
        words_.Add(text);
    }
    SetActiveLanguage(0);
    return true;
}

// ---------------------------------------------------------------------------
const PropertyTable& BaseMultiLang::StaticProperties() {
    static const PropertyTable table(&Component::StaticProperties(), {
        StringProperty<BaseMultiLang>("About", &BaseMultiLang::About, &BaseMultiLang::SetAbout),
        EventProperty<BaseMultiLang>("BeforeLanguageChange", &BaseMultiLang::BeforeLanguageChange),
        EventProperty<BaseMultiLang>("AfterLanguageChanged", &BaseMultiLang::AfterLanguageChanged),
        EventProperty<BaseMultiLang>("IdNotFoundError", &BaseMultiLang::IdNotFoundError),
        IntegerProperty<BaseMultiLang>("DefaultLanguage", &BaseMultiLang::DefaultLanguage, &BaseMultiLang::SetDefaultLanguage),
        BooleanProperty<BaseMultiLang>("DefaultEnabled", &BaseMultiLang::DefaultEnabled, &BaseMultiLang::SetDefaultEnabled),
        IntegerProperty<BaseMultiLang>("Languages", &BaseMultiLang::Languages, &BaseMultiLang::SetLanguages),
        IntegerProperty<BaseMultiLang>("ActiveLanguage", &BaseMultiLang::ActiveLanguage, &BaseMultiLang::SetActiveLanguage),
        StringsProperty<BaseMultiLang>("Words", static_cast<StringList& (BaseMultiLang::*)()>(&BaseMultiLang::Words)),
        StringsProperty<BaseMultiLang>("DoNot", &BaseMultiLang::DoNot),
        EnumProperty<BaseMultiLang, SwitchPositions>("SwitchPositions", {"spNone", "spControlsOnly", "spFormAndControls"},
                                                     &BaseMultiLang::GetSwitchPositions, &BaseMultiLang::SetSwitchPositions),
        EnumProperty<BaseMultiLang, TranslateEdits>("TranslateEdits", {"teNever", "teReadOnly", "teAlways"},
                                                    &BaseMultiLang::GetTranslateEdits, &BaseMultiLang::SetTranslateEdits),
        StringsProperty<BaseMultiLang>("Positions", &BaseMultiLang::Positions),
        StringsProperty<BaseMultiLang>("CharSets", &BaseMultiLang::CharSets),
    });
    return table;
}

}  // namespace qv
