#include "command.h"

#include <stdexcept>

#include "program.h"
#include "text.h"

namespace kestrave {
namespace {

void StorePicture(PropertyBag& bag, const wchar_t* key, const wchar_t* resourceName) {
    if (!resourceName)
        return;
    PictureRef picture = Picture::FromResource(ProgramInstance(), resourceName);
    // A name that is not among the program's pictures is a slip in the table: say so at once
    // rather than show a button without its picture.
    if (!picture)
        throw std::runtime_error("no picture " + Utf8FromWide(resourceName) + " in the program");
    bag.Store(key, std::move(picture));
}

}  // namespace

PropertyBag SavedProperties(const SavedButton& saved) {
    PropertyBag bag;
    StorePicture(bag, kKeyPictureMouseOn, saved.pictureMouseOn);
    StorePicture(bag, kKeyPictureDown, saved.pictureDown);
    StorePicture(bag, kKeyPicture, saved.picture);
    if (saved.caption)
        bag.Store(kKeyCaption, std::wstring(saved.caption));
    if (saved.font) {
        bag.Store(kKeyFont, MakeFont(FontDescription{.face = saved.font->face,
                                                     .points = saved.font->points,
                                                     .weight = saved.font->weight,
                                                     .charset = saved.font->charset}));
    }
    if (saved.foreColor)
        bag.Store(kKeyForeColor, static_cast<long>(*saved.foreColor));
    return bag;
}

}  // namespace kestrave
