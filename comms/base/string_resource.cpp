#include "comms/base/string_resource.h"

#include "comms/base/comm_misc_core.h"
#include "comms/base/str0_table.h"
#include "framework/text.h"
#include "framework/win32_text.h"

namespace qv {

StringResource* ReaderStrings = nullptr;
StringResource* ErrorStrings = nullptr;

namespace {

// The reader's own messages come from ReaderStrings; these stand in only
// when that table itself could not be opened.
const char* const kFallbackReaderTexts[] = {
    "", "String not found: %d", "Cannot lock resource", "String resource not found: %s",
    "Unable to open string resource: %s", "Invalid string table resource",
};

[[noreturn]] void RaiseReaderError(int id, const std::string& argument, const StringResource* raiser) {
    std::string text;
    if (ReaderStrings && ReaderStrings != raiser && ReaderStrings->HasTable()) {
        try {
            text = ReaderStrings->TextById(id);
        } catch (const EStringResourceError&) {
            text.clear();
        }
    }
    if (text.empty()) text = kFallbackReaderTexts[id];
    throw EStringResourceError(FillPlaceholder(text, argument));
}

}  // namespace

// Maps the held table for one operation and releases it on every path out.
class StringResource::Mapping {
public:
    explicit Mapping(StringResource& reader) : reader_(reader) {
        if (!reader_.loaded_) RaiseReaderError(2, "", &reader_);
        reader_.mapped_ = static_cast<const uint8_t*>(LockResource(reader_.loaded_));
        if (!reader_.mapped_) RaiseReaderError(2, "", &reader_);
    }
    ~Mapping() { reader_.mapped_ = nullptr; }
    Str0Table Table() const { return Str0Table(reader_.mapped_, reader_.size_); }

private:
    StringResource& reader_;
};

StringResource::StringResource(HMODULE module, const std::string& name) {
    if (!name.empty()) OpenResource(module, name);
}

StringResource::~StringResource() { CloseResource(); }

void StringResource::OpenResource(HMODULE module, const std::string& name) {
    CloseResource();
    if (name.empty()) return;
    std::string cut = name.substr(0, 255);
    std::wstring wide = ToWide(cut);
    HMODULE where = module;
    HRSRC info = where ? FindResourceW(where, wide.c_str(), MAKEINTRESOURCEW(10)) : nullptr;
    if (!info) {
        where = GetModuleHandleW(nullptr);
        info = FindResourceW(where, wide.c_str(), MAKEINTRESOURCEW(10));
    }
    if (!info) RaiseReaderError(3, cut, this);
    HGLOBAL loaded = LoadResource(where, info);
    if (!loaded) RaiseReaderError(4, cut, this);
    loaded_ = loaded;
    size_ = SizeofResource(where, info);
    Mapping mapping(*this);
    valid_ = mapping.Table().Check() == Str0Check::Ok;
    if (!valid_) RaiseReaderError(5, "", this);
}

void StringResource::CloseResource() {
    // Resources of a loaded module need no freeing; forgetting the handle is
    // the release.
    loaded_ = nullptr;
    size_ = 0;
    valid_ = false;
    mapped_ = nullptr;
}

std::string StringResource::TextById(int32_t id) {
    Mapping mapping(*this);
    Str0Table table = mapping.Table();
    // A table refused at open is still held; never look into it.
    if (!valid_) RaiseReaderError(5, "", this);
    auto entry = table.Find(id);
    if (!entry) {
        if (RaiseOnMissing) RaiseReaderError(1, IntToStr(id), this);
        return {};
    }
    std::u16string text = table.Text(*entry);
    return FromWide(std::wstring_view(reinterpret_cast<const wchar_t*>(text.data()), text.size()));
}

}  // namespace qv
