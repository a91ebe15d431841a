#include "saved_form.h"

#include <windows.h>

#include <string_view>

#include "form_data.h"
#include "program.h"

namespace kestrave {

SavedForm SavedForm::FromResource(const std::wstring& name) {
    SavedForm form;
    HINSTANCE module = ProgramInstance();
    HRSRC found = FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!found)
        return form;
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return form;
    const std::string_view text(static_cast<const char*>(bytes), SizeofResource(module, found));
    const auto loader = [module](const std::wstring& pictureName) {
        return Picture::FromResource(module, pictureName);
    };
    for (SavedControl& control : ParseFormData(text, loader)) {
        form.controls_.emplace_back(control.controlName, std::move(control.properties));
    }
    return form;
}

const PropertyBag* SavedForm::Find(const std::wstring& controlName) const {
    for (const auto& [name, properties] : controls_) {
        if (name == controlName)
            return &properties;
    }
    return nullptr;
}

}  // namespace kestrave
