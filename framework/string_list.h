// A list of strings. Controls whose items live in a Win32 control (memo
// lines, list box items ...) derive from it and override the five storage
// operations, so every caller works the same on both kinds.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/object.h"

namespace qv {

class StringList : public Persistent {
public:
    StringList() = default;
    ~StringList() override = default;

    // Storage operations.
    virtual int Count() const { return static_cast<int>(items_.size()); }
    virtual std::string Get(int index) const;
    virtual void Put(int index, std::string_view s);
    virtual void Insert(int index, std::string_view s);
    virtual void Delete(int index);
    virtual void Clear();

    // Built on the storage operations.
    int Add(std::string_view s);
    std::string operator[](int index) const { return Get(index); }
    bool Empty() const { return Count() == 0; }
    // Copies every string of source (this list's own kind of storage kept).
    void Assign(const StringList& source);
    void Assign(const std::vector<std::string>& source);
    std::vector<std::string> ToVector() const;

    // Text: the strings each followed by CR LF. SetText splits at CR LF, CR
    // or LF; a text that ends in a line break gives no empty last string.
    std::string Text() const;
    void SetText(std::string_view text);

    // Called after every change made through this object.
    std::function<void()> OnChange;

protected:
    void Changed();
    // Index checks of the runtime: EStringListError "List index out of bounds (i)".
    void CheckIndex(int index, int limit) const;

private:
    // The strings this object stores itself. A list kept by a control
    // stores here only until the control has its window, when Count()
    // already answers for the window: the storage operations above are
    // bounded by what is stored, never by Count().
    int StoredCount() const { return static_cast<int>(items_.size()); }
    std::vector<std::string> items_;
};

}  // namespace qv
