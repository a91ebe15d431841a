// Saved properties of one control: values by key, in the order they were written.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "font.h"
#include "picture.h"

namespace kestrave {

// A number (32-bit, colours included), a text, a picture by reference (null for none) or a font.
using PropertyValue = std::variant<long, std::wstring, PictureRef, FontRef>;

// Numbers and texts by value, pictures by reference, fonts by what they describe.
bool SamePropertyValue(const PropertyValue& a, const PropertyValue& b);

// Ordinal comparison that ignores letter case, as property keys and control names are matched.
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);

class PropertyBag {
  public:
    using Entry = std::pair<std::wstring, PropertyValue>;

    // The stored value, or `defaultValue` when the key is absent.
    PropertyValue Read(const std::wstring& key, const PropertyValue& defaultValue) const;
    // Typed reads; a stored value of another kind throws std::invalid_argument naming the key,
    // rather than quietly falling back to the default.
    long ReadLong(const std::wstring& key, long defaultValue) const;
    std::wstring ReadText(const std::wstring& key, const std::wstring& defaultValue) const;
    PictureRef ReadPicture(const std::wstring& key, const PictureRef& defaultValue) const;
    FontRef ReadFont(const std::wstring& key, const FontRef& defaultValue) const;

    // Stores `value` under `key` (in place when the key is already there), or removes the key
    // when `value` equals `defaultValue`, so that only values that differ are kept.
    void Write(const std::wstring& key, const PropertyValue& value,
               const PropertyValue& defaultValue);

    // Stores `value` whatever it is, as saved data gives it.
    void Store(const std::wstring& key, PropertyValue value);
    bool Contains(const std::wstring& key) const { return Find(key) != nullptr; }

    const std::vector<Entry>& Entries() const { return entries_; }
    bool Empty() const { return entries_.empty(); }

  private:
    const PropertyValue* Find(const std::wstring& key) const;

    std::vector<Entry> entries_;
};

}  // namespace kestrave
