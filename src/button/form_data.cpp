#include "form_data.h"

#include <windows.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <optional>

#include "text.h"

namespace kestrave {
namespace {

constexpr wchar_t kBegin[] = L"Begin";
constexpr wchar_t kEnd[] = L"End";
constexpr wchar_t kNothing[] = L"Nothing";
constexpr wchar_t kItalic[] = L"Italic";
constexpr wchar_t kUnderline[] = L"Underline";
constexpr wchar_t kStrikeout[] = L"Strikeout";
constexpr wchar_t kIndent[] = L"   ";

// Saved form data is ours: a byte that is not UTF-8 means a damaged resource, not a text.
std::wstring WideFromStrictUtf8(std::string_view text) {
    if (text.empty())
        return {};
    int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                   static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0)
        throw FormDataError(0, "form data is not valid UTF-8");
    std::wstring result(size, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        result.data(), size);
    return result;
}

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}
bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}
bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}
int HexDigit(wchar_t c) {
    if (IsDigit(c))
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}
bool IsKeyStart(wchar_t c) {
    return IsAsciiLetter(c) || c == L'_';
}
bool IsKeyPart(wchar_t c) {
    return IsKeyStart(c) || IsDigit(c);
}
bool IsPictureNameStart(wchar_t c) {
    return IsAsciiLetter(c) || c == L'_' || c == L'#';
}
bool IsPictureNamePart(wchar_t c) {
    return IsKeyPart(c) || c == L'.' || c == L'-' || c == L'#';
}

bool IsKey(std::wstring_view text) {
    if (text.empty() || !IsKeyStart(text[0]))
        return false;
    for (wchar_t c : text) {
        if (!IsKeyPart(c))
            return false;
    }
    return true;
}

bool IsPictureName(std::wstring_view text) {
    if (text.empty() || !IsPictureNameStart(text[0]))
        return false;
    for (wchar_t c : text) {
        if (!IsPictureNamePart(c))
            return false;
    }
    return !EqualsIgnoringCase(text, kNothing);
}

// A word of the Begin line: printable, no blanks or quotes, and nothing a text would escape.
bool IsBareWord(std::wstring_view text) {
    if (text.empty() || text[0] == L'"' || text[0] == L'\'')
        return false;
    for (wchar_t c : text) {
        if (c <= 0x20 || c == 0x7F || c == L'"' || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        if (std::iswspace(c))
            return false;
    }
    return true;
}

// Reads the pieces of one line, reporting faults with the line's number.
class LineCursor {
  public:
    LineCursor(std::wstring_view text, int line) : rest_(text), line_(line) {}

    [[noreturn]] void Fail(const std::string& message) const {
        throw FormDataError(line_, message);
    }

    void SkipBlanks() {
        while (!rest_.empty() && IsBlank(rest_[0]))
            rest_.remove_prefix(1);
    }
    // Nothing but blanks or a comment is left.
    bool AtEnd() {
        SkipBlanks();
        return rest_.empty() || rest_[0] == L'\'';
    }
    void ExpectEnd() {
        if (!AtEnd())
            Fail("unexpected text: " + Utf8FromWide(rest_));
    }
    bool Eat(wchar_t c) {
        SkipBlanks();
        if (rest_.empty() || rest_[0] != c)
            return false;
        rest_.remove_prefix(1);
        return true;
    }
    void Expect(wchar_t c, const char* what) {
        if (!Eat(c))
            Fail(std::string("expected ") + what);
    }
    wchar_t Peek() {
        SkipBlanks();
        return rest_.empty() ? L'\0' : rest_[0];
    }

    std::wstring Word() {
        SkipBlanks();
        size_t length = 0;
        while (length < rest_.size() && !IsBlank(rest_[length]))
            ++length;
        return Take(length);
    }
    template <typename Predicate>
    std::wstring Run(Predicate part) {
        SkipBlanks();
        size_t length = 0;
        while (length < rest_.size() && part(rest_[length]))
            ++length;
        return Take(length);
    }

    std::wstring Quoted() {
        Expect(L'"', "a quoted text");
        std::wstring text;
        while (true) {
            if (rest_.empty())
                Fail("text without its closing quote");
            wchar_t c = Next();
            if (c == L'"')
                return text;
            if (c != L'\\') {
                text += c;
                continue;
            }
            if (rest_.empty())
                Fail("text without its closing quote");
            switch (wchar_t escaped = Next()) {
                case L'"':
                    text += L'"';
                    break;
                case L'\\':
                    text += L'\\';
                    break;
                case L'n':
                    text += L'\n';
                    break;
                case L'r':
                    text += L'\r';
                    break;
                case L't':
                    text += L'\t';
                    break;
                case L'u':
                    text += static_cast<wchar_t>(HexNumber(4, 4, "\\u needs four hex digits"));
                    break;
                default:
                    Fail("unknown escape \\" + Utf8FromWide(std::wstring(1, escaped)));
            }
        }
    }

    long Number() {
        SkipBlanks();
        if (rest_.size() >= 2 && rest_[0] == L'&' && (rest_[1] == L'H' || rest_[1] == L'h')) {
            rest_.remove_prefix(2);
            std::uint32_t value = HexNumber(1, 8, "&H needs one to eight hex digits");
            if (!rest_.empty() && rest_[0] == L'&')
                rest_.remove_prefix(1);
            return static_cast<long>(static_cast<std::int32_t>(value));
        }
        bool negative = !rest_.empty() && rest_[0] == L'-';
        if (negative)
            rest_.remove_prefix(1);
        std::wstring digits = Run(IsDigit);
        if (digits.empty())
            Fail("expected a number");
        std::int64_t value = 0;
        for (wchar_t digit : digits) {
            value = value * 10 + (digit - L'0');
            if (value > std::int64_t{INT32_MAX} + 1)
                Fail("number out of the 32-bit range");
        }
        if (negative)
            value = -value;
        if (value > INT32_MAX)
            Fail("number out of the 32-bit range");
        return static_cast<long>(value);
    }

    double Decimal() {
        std::wstring digits = Run([](wchar_t c) { return IsDigit(c) || c == L'.'; });
        if (digits.empty() || digits.front() == L'.' || digits.back() == L'.') {
            Fail("expected a size in points");
        }
        std::string ascii(digits.begin(), digits.end());
        double value = 0;
        auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
        if (error != std::errc() || end != ascii.data() + ascii.size()) {
            Fail("expected a size in points");
        }
        return value;
    }

  private:
    wchar_t Next() {
        wchar_t c = rest_[0];
        rest_.remove_prefix(1);
        return c;
    }
    std::wstring Take(size_t length) {
        std::wstring taken(rest_.substr(0, length));
        rest_.remove_prefix(length);
        return taken;
    }
    std::uint32_t HexNumber(size_t fewest, size_t most, const char* fault) {
        std::uint32_t value = 0;
        size_t count = 0;
        while (count < most && count < rest_.size() && HexDigit(rest_[count]) >= 0) {
            value = value * 16 + static_cast<std::uint32_t>(HexDigit(rest_[count]));
            ++count;
        }
        if (count < fewest || (count < rest_.size() && HexDigit(rest_[count]) >= 0))
            Fail(fault);
        rest_.remove_prefix(count);
        return value;
    }

    std::wstring_view rest_;
    int line_;
};

FontRef ParseFontRest(LineCursor& cursor, std::wstring face) {
    FontDescription description;
    description.face = std::move(face);
    description.points = cursor.Decimal();
    if (description.points <= 0)
        cursor.Fail("a font needs a size above 0 points");
    cursor.Expect(L',', "the font's weight");
    long weight = cursor.Number();
    if (weight < 0 || weight > 1000)
        cursor.Fail("font weight out of 0..1000");
    description.weight = static_cast<int>(weight);
    cursor.Expect(L',', "the font's character set");
    long charset = cursor.Number();
    if (charset < 0 || charset > 255)
        cursor.Fail("character set out of 0..255");
    description.charset = static_cast<BYTE>(charset);
    while (cursor.Eat(L',')) {
        std::wstring word = cursor.Run(IsKeyPart);
        if (EqualsIgnoringCase(word, kItalic)) {
            description.italic = true;
        } else if (EqualsIgnoringCase(word, kUnderline)) {
            description.underline = true;
        } else if (EqualsIgnoringCase(word, kStrikeout)) {
            description.strikeout = true;
        } else {
            cursor.Fail("unknown font style: " + Utf8FromWide(word));
        }
    }
    return MakeFont(std::move(description));
}

PropertyValue ParseValue(LineCursor& cursor, const PictureLoader& loadPicture) {
    wchar_t first = cursor.Peek();
    if (first == L'"') {
        std::wstring text = cursor.Quoted();
        if (cursor.Eat(L','))
            return ParseFontRest(cursor, std::move(text));
        return text;
    }
    if (first == L'&' || first == L'-' || IsDigit(first))
        return cursor.Number();
    if (!IsPictureNameStart(first))
        cursor.Fail("expected a value");
    std::wstring name = cursor.Run(IsPictureNamePart);
    if (EqualsIgnoringCase(name, kNothing))
        return PictureRef{};
    PictureRef picture = loadPicture ? loadPicture(name) : nullptr;
    if (!picture)
        cursor.Fail("no picture named " + Utf8FromWide(name));
    return picture;
}

std::wstring QuotedText(std::wstring_view text) {
    std::wstring quoted = L"\"";
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        bool lead = c >= 0xD800 && c <= 0xDBFF;
        bool trail = c >= 0xDC00 && c <= 0xDFFF;
        bool paired = lead && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        switch (c) {
            case L'"':
                quoted += L"\\\"";
                continue;
            case L'\\':
                quoted += L"\\\\";
                continue;
            case L'\n':
                quoted += L"\\n";
                continue;
            case L'\r':
                quoted += L"\\r";
                continue;
            case L'\t':
                quoted += L"\\t";
                continue;
            default:
                break;
        }
        if (paired) {
            quoted += c;
            quoted += text[++i];
            continue;
        }
        // Control characters and halves of surrogate pairs have no place in UTF-8 text as they
        // are, so they travel escaped and come back unchanged.
        if (c < 0x20 || c == 0x7F || lead || trail) {
            wchar_t escape[8];
            swprintf(escape, 8, L"\\u%04X", static_cast<unsigned>(c));
            quoted += escape;
            continue;
        }
        quoted += c;
    }
    quoted += L'"';
    return quoted;
}

bool EndsWithIgnoringCase(std::wstring_view text, std::wstring_view tail) {
    return text.size() >= tail.size() &&
           EqualsIgnoringCase(text.substr(text.size() - tail.size()), tail);
}

std::wstring FormattedValue(const std::wstring& key, const PropertyValue& value) {
    if (auto* number = std::get_if<long>(&value)) {
        wchar_t text[16];
        if (EndsWithIgnoringCase(key, L"Color")) {
            swprintf(text, 16, L"&H%08X&", static_cast<unsigned>(*number));
        } else {
            swprintf(text, 16, L"%ld", *number);
        }
        return text;
    }
    if (auto* text = std::get_if<std::wstring>(&value))
        return QuotedText(*text);
    if (auto* picture = std::get_if<PictureRef>(&value)) {
        if (!*picture)
            return kNothing;
        if (!IsPictureName((*picture)->Name())) {
            throw FormDataError(0, "picture of \"" + Utf8FromWide(key) +
                                       "\" has no name to save it by: \"" +
                                       Utf8FromWide((*picture)->Name()) + "\"");
        }
        return (*picture)->Name();
    }
    const FontRef& font = std::get<FontRef>(value);
    if (!font)
        throw FormDataError(0, "font of \"" + Utf8FromWide(key) + "\" is missing");
    const FontDescription& description = font->Description();
    char points[32];
    auto [end, error] = std::to_chars(points, points + sizeof points, description.points);
    if (error != std::errc() || !(description.points > 0)) {
        throw FormDataError(0, "font of \"" + Utf8FromWide(key) + "\" has no usable size");
    }
    std::wstring text = QuotedText(description.face) + L", " + std::wstring(points, end) + L", " +
                        std::to_wstring(description.weight) + L", " +
                        std::to_wstring(description.charset);
    if (description.italic)
        text += std::wstring(L", ") + kItalic;
    if (description.underline)
        text += std::wstring(L", ") + kUnderline;
    if (description.strikeout)
        text += std::wstring(L", ") + kStrikeout;
    return text;
}

}  // namespace

FormDataError::FormDataError(int line, const std::string& message)
    : std::runtime_error(line > 0 ? "form data, line " + std::to_string(line) + ": " + message
                                  : "form data: " + message),
      line_(line) {}

std::vector<SavedControl> ParseFormData(std::string_view utf8Text,
                                        const PictureLoader& loadPicture) {
    if (utf8Text.substr(0, 3) == "\xEF\xBB\xBF")
        utf8Text.remove_prefix(3);
    const std::wstring text = WideFromStrictUtf8(utf8Text);

    std::vector<SavedControl> controls;
    std::optional<SavedControl> open;
    int openedAt = 0;
    int lineNumber = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.remove_suffix(1);
        start = end + 1;
        ++lineNumber;

        LineCursor cursor(line, lineNumber);
        if (cursor.AtEnd())
            continue;
        if (!open) {
            if (!EqualsIgnoringCase(cursor.Word(), kBegin))
                cursor.Fail("expected Begin");
            SavedControl control;
            control.className = cursor.Word();
            if (control.className.empty())
                cursor.Fail("Begin without a class name");
            control.controlName = cursor.Peek() == L'"' ? cursor.Quoted() : cursor.Word();
            if (control.controlName.empty())
                cursor.Fail("Begin without a control name");
            cursor.ExpectEnd();
            open = std::move(control);
            openedAt = lineNumber;
            continue;
        }
        std::wstring key = cursor.Run(IsKeyPart);
        if (EqualsIgnoringCase(key, kEnd) && cursor.AtEnd()) {
            controls.push_back(std::move(*open));
            open.reset();
            continue;
        }
        if (EqualsIgnoringCase(key, kBegin))
            cursor.Fail("Begin inside a block");
        if (!IsKey(key))
            cursor.Fail("expected a key or End");
        cursor.Expect(L'=', "= after the key");
        PropertyValue value = ParseValue(cursor, loadPicture);
        cursor.ExpectEnd();
        if (open->properties.Contains(key))
            cursor.Fail("key given twice: " + Utf8FromWide(key));
        open->properties.Store(key, std::move(value));
    }
    if (open)
        throw FormDataError(openedAt, "Begin without its End");
    return controls;
}

std::string FormatFormData(const std::vector<SavedControl>& controls) {
    std::wstring text;
    for (const SavedControl& control : controls) {
        if (!IsBareWord(control.className)) {
            throw FormDataError(
                0, "class name of the wrong shape: \"" + Utf8FromWide(control.className) + "\"");
        }
        text += kBegin;
        text += L' ';
        text += control.className;
        text += L' ';
        text +=
            IsBareWord(control.controlName) ? control.controlName : QuotedText(control.controlName);
        text += L'\n';
        for (const auto& [key, value] : control.properties.Entries()) {
            if (!IsKey(key))
                throw FormDataError(0, "key of the wrong shape: \"" + Utf8FromWide(key) + "\"");
            text += kIndent + key + L" = " + FormattedValue(key, value) + L'\n';
        }
        text += kEnd;
        text += L'\n';
    }
    return Utf8FromWide(text);
}

const SavedControl* FindSavedControl(const std::vector<SavedControl>& controls,
                                     std::wstring_view controlName) {
    for (const SavedControl& control : controls) {
        if (EqualsIgnoringCase(control.controlName, controlName))
            return &control;
    }
    return nullptr;
}

}  // namespace kestrave
