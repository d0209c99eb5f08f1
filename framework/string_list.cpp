#include "framework/string_list.h"

#include "framework/exception.h"
#include "framework/text.h"

namespace qv {

void StringList::CheckIndex(int index, int limit) const {
    if (index < 0 || index >= limit)
        throw Exception("List index out of bounds (" + IntToStr(index) + ")");
}

std::string StringList::Get(int index) const {
    CheckIndex(index, StoredCount());
    return items_[static_cast<size_t>(index)];
}

void StringList::Put(int index, std::string_view s) {
    CheckIndex(index, StoredCount());
    items_[static_cast<size_t>(index)] = std::string(s);
    Changed();
}

void StringList::Insert(int index, std::string_view s) {
    CheckIndex(index, StoredCount() + 1);
    items_.insert(items_.begin() + index, std::string(s));
    Changed();
}

void StringList::Delete(int index) {
    CheckIndex(index, StoredCount());
    items_.erase(items_.begin() + index);
    Changed();
}

void StringList::Clear() {
    if (items_.empty()) return;
    items_.clear();
    Changed();
}

int StringList::Add(std::string_view s) {
    int index = Count();
    Insert(index, s);
    return index;
}

void StringList::Assign(const StringList& source) {
    if (&source == this) return;
    Assign(source.ToVector());
}

void StringList::Assign(const std::vector<std::string>& source) {
    Clear();
    for (const auto& s : source) Add(s);
}

std::vector<std::string> StringList::ToVector() const {
    std::vector<std::string> v;
    for (int i = 0, n = Count(); i < n; ++i) v.push_back(Get(i));
    return v;
}

std::string StringList::Text() const {
    std::string text;
    for (int i = 0, n = Count(); i < n; ++i) {
        text += Get(i);
        text += "\r\n";
    }
    return text;
}

void StringList::SetText(std::string_view text) {
    Clear();
    size_t i = 0;
    while (i < text.size()) {
        size_t start = i;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
        Add(text.substr(start, i - start));
        if (i < text.size() && text[i] == '\r') ++i;
        if (i < text.size() && text[i] == '\n') ++i;
    }
}

void StringList::Changed() {
    if (OnChange) OnChange();
}

}  // namespace qv
