#include "property_bag.h"

#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "text.h"

namespace kestrave {
namespace {

template <typename Value>
Value ReadAs(const PropertyBag& bag, const std::wstring& key, const Value& defaultValue) {
    PropertyValue value = bag.Read(key, defaultValue);
    if (auto* typed = std::get_if<Value>(&value))
        return *typed;
    throw std::invalid_argument("saved property \"" + Utf8FromWide(key) +
                                "\" holds another kind of value");
}

}  // namespace

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool SamePropertyValue(const PropertyValue& a, const PropertyValue& b) {
    if (a.index() != b.index())
        return false;
    if (auto* fontA = std::get_if<FontRef>(&a)) {
        const FontRef& fontB = std::get<FontRef>(b);
        if (!*fontA || !fontB)
            return *fontA == fontB;
        return (*fontA)->Description() == fontB->Description();
    }
    return a == b;
}

const PropertyValue* PropertyBag::Find(const std::wstring& key) const {
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return EqualsIgnoringCase(entry.first, key);
    });
    return found == entries_.end() ? nullptr : &found->second;
}

PropertyValue PropertyBag::Read(const std::wstring& key, const PropertyValue& defaultValue) const {
    const PropertyValue* stored = Find(key);
    return stored ? *stored : defaultValue;
}

long PropertyBag::ReadLong(const std::wstring& key, long defaultValue) const {
    return ReadAs(*this, key, defaultValue);
}
std::wstring PropertyBag::ReadText(const std::wstring& key,
                                   const std::wstring& defaultValue) const {
    return ReadAs(*this, key, defaultValue);
}
PictureRef PropertyBag::ReadPicture(const std::wstring& key, const PictureRef& defaultValue) const {
    return ReadAs(*this, key, defaultValue);
}
FontRef PropertyBag::ReadFont(const std::wstring& key, const FontRef& defaultValue) const {
    return ReadAs(*this, key, defaultValue);
}

void PropertyBag::Write(const std::wstring& key, const PropertyValue& value,
                        const PropertyValue& defaultValue) {
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return EqualsIgnoringCase(entry.first, key);
    });
    if (SamePropertyValue(value, defaultValue)) {
        if (found != entries_.end())
            entries_.erase(found);
        return;
    }
    if (found != entries_.end()) {
        found->second = value;
        return;
    }
    entries_.emplace_back(key, value);
}

void PropertyBag::Store(const std::wstring& key, PropertyValue value) {
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return EqualsIgnoringCase(entry.first, key);
    });
    if (found != entries_.end()) {
        found->second = std::move(value);
        return;
    }
    entries_.emplace_back(key, std::move(value));
}

}  // namespace kestrave
