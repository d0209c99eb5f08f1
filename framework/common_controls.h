// Tab control, header control, tree view and list view over the common
// controls. Their items live in the control windows; item lists kept before
// a window exists are moved into it when it is created.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/controls.h"

namespace qv {

class TabControl;
class HeaderControl;

class TabItems : public StringList {
public:
    explicit TabItems(TabControl& control) : control_(control) {}
    int Count() const override;
    std::string Get(int index) const override;
    void Put(int index, std::string_view s) override;
    void Insert(int index, std::string_view s) override;
    void Delete(int index) override;
    void Clear() override;
    void Flush();

private:
    TabControl& control_;
};

class TabControl : public Control {
public:
    explicit TabControl(Component* owner = nullptr);
    TabItems& Tabs() { return tabs_; }
    int TabIndex() const;
    void SetTabIndex(int v);
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "TabControl"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;

private:
    TabItems tabs_;
    int tabIndex_ = -1;
};

// The sections of a header control, by their texts (each new section gets
// the control's SectionWidth).
class HeaderSections : public StringList {
public:
    explicit HeaderSections(HeaderControl& control) : control_(control) {}
    int Count() const override;
    std::string Get(int index) const override;
    void Put(int index, std::string_view s) override;
    void Insert(int index, std::string_view s) override;
    void Delete(int index) override;
    void Clear() override;
    void Flush();

private:
    HeaderControl& control_;
};

class HeaderControl : public Control {
public:
    explicit HeaderControl(Component* owner = nullptr);
    HeaderSections& Sections() { return sections_; }
    int SectionWidth() const { return sectionWidth_; }
    void SetSectionWidth(int v) { sectionWidth_ = v; }
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "HeaderControl"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleCreated() override;
    void ScaleChanged(int oldDpi) override;

private:
    friend class HeaderSections;
    HeaderSections sections_;
    int sectionWidth_ = 80;
};

enum class SortType { stNone, stText };

// A tree view. Nodes are addressed by their index in the node list, which
// is the order in which they were added (whatever the sorting shows).
// Nodes need the control's window.
class TreeView : public Control {
public:
    explicit TreeView(Component* owner = nullptr);
    // Adds a node under the node `parent` (-1: at the root); its index.
    int AddNode(int parent, const std::string& text);
    int NodeCount() const { return static_cast<int>(nodes_.size()); }
    std::string NodeText(int index) const;
    void SetNodeText(int index, const std::string& text);
    // The texts of the root's children (or a node's children) in the
    // order the control shows them.
    std::vector<std::string> ShownChildren(int parent = -1) const;
    SortType GetSortType() const { return sortType_; }
    // stText sorts every level by text at once and keeps new nodes sorted.
    void SetSortType(SortType v);
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "TreeView"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleDestroying() override;

private:
    HTREEITEM Node(int index) const;
    void SortAll();
    std::vector<HTREEITEM> nodes_;
    SortType sortType_ = SortType::stNone;
};

class ListView;

// The sub-item texts of one list view item.
class ListSubItems : public StringList {
public:
    ListSubItems(ListView& view, LPARAM id) : view_(view), id_(id) {}
    void Put(int index, std::string_view s) override;
    void Insert(int index, std::string_view s) override;
    void Delete(int index) override;
    void Clear() override;

private:
    void Push();
    ListView& view_;
    LPARAM id_;
};

// A list view in report mode: columns with captions, items with a caption
// and sub-items. Items are addressed by their position as shown.
class ListView : public Control {
public:
    explicit ListView(Component* owner = nullptr);
    ~ListView() override;
    int AddColumn(const std::string& caption, int width = 80);
    int ColumnCount() const { return columnCount_; }
    std::string ColumnCaption(int index) const;
    void SetColumnCaption(int index, const std::string& caption);
    int AddItem(const std::string& caption);
    int ItemCount() const;
    std::string ItemCaption(int index) const;
    void SetItemCaption(int index, const std::string& caption);
    ListSubItems& SubItems(int index);
    // The text of column `column` (0 = caption) of item `index`, from the control.
    std::string CellText(int index, int column) const;
    SortType GetSortType() const { return sortType_; }
    void SetSortType(SortType v);
    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "ListView"; }

protected:
    CreateParams GetCreateParams() const override;
    void HandleDestroying() override;
    void ScaleChanged(int oldDpi) override;

private:
    friend class ListSubItems;
    void RequireHandle() const;
    int PositionOf(LPARAM id) const;
    LPARAM IdAt(int index) const;
    void Sort();
    struct Item {
        LPARAM id;
        std::unique_ptr<ListSubItems> subItems;
    };
    std::vector<Item> items_;
    LPARAM nextId_ = 1;
    int columnCount_ = 0;
    SortType sortType_ = SortType::stNone;
};

}  // namespace qv
