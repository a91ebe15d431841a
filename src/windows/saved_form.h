// The saved properties of a window's picture buttons, kept as a text resource of the program.
#pragma once

#include <string>
#include <vector>

#include "property_bag.h"

namespace kestrave {

class SavedForm {
  public:
    // The resource `name` (type RCDATA) of the program; pictures are its bitmap resources.
    static SavedForm FromResource(const std::wstring& name);

    // The properties saved for the control `name`, or null.
    const PropertyBag* Find(const std::wstring& controlName) const;

  private:
    std::vector<std::pair<std::wstring, PropertyBag>> controls_;
};

}  // namespace kestrave
