// The system's Open and Save dialogs as components.
#pragma once

#include <string>

#include "framework/component.h"

namespace qv {

class OpenDialog : public Component {
public:
    using Component::Component;
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& v) { title_ = v; }
    // "Text files|*.txt|All files|*.*": description and pattern pairs.
    const std::string& Filter() const { return filter_; }
    void SetFilter(const std::string& v) { filter_ = v; }
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& v) { fileName_ = v; }
    const std::string& InitialDir() const { return initialDir_; }
    void SetInitialDir(const std::string& v) { initialDir_ = v; }
    const std::string& DefaultExt() const { return defaultExt_; }
    void SetDefaultExt(const std::string& v) { defaultExt_ = v; }

    // Shows the dialog; true with FileName set when the user chose a file.
    virtual bool Execute();

    static const PropertyTable& StaticProperties();
    const PropertyTable& Properties() const override { return StaticProperties(); }
    std::string ClassName() const override { return "OpenDialog"; }

protected:
    bool Run(bool save);

private:
    std::string title_, filter_, fileName_, initialDir_, defaultExt_;
};

class SaveDialog : public OpenDialog {
public:
    using OpenDialog::OpenDialog;
    bool Execute() override { return Run(true); }
    std::string ClassName() const override { return "SaveDialog"; }
};

}  // namespace qv
