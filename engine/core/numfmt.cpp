#include "core/numfmt.h"

#include <cstring>

namespace sd {

struct FormatSection
{
};

const char *builtinNumberFormat(int id)
{
    static const char *const usEnglish[] = {
        "General", "0", "0.00", "#,##0", "#,##0.00",
        "\"$\"#,##0_);\\(\"$\"#,##0\\)", "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)",
        "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)", "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)",
        "0%", "0.00%", "0.00E+00", "# ?/?", "# ?" "?/??",
        "m/d/yyyy", "d-mmm-yy", "d-mmm", "mmm-yy", "h:mm AM/PM", "h:mm:ss AM/PM",
        "h:mm", "h:mm:ss", "m/d/yyyy h:mm",
    };
    if (id >= 0 && id < int(sizeof usEnglish / sizeof usEnglish[0]))
        return usEnglish[id];
    switch (id) {
    case 37: return "#,##0_);(#,##0)";
    case 38: return "#,##0_);[Red](#,##0)";
    case 39: return "#,##0.00_);(#,##0.00)";
    case 40: return "#,##0.00_);[Red](#,##0.00)";
    case 41: return "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)";
    case 42: return "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)";
    case 43: return "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)";
    case 44: return "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)";
    case 45: return "mm:ss";
    case 46: return "[h]:mm:ss";
    case 47: return "mmss.0";
    case 48: return "##0.0E+0";
    case 49: return "@";
    // East Asian ids: the Simplified Chinese definitions.
    case 27: case 36: case 50: case 52: case 57:
        return "yyyy\"\xE5\xB9\xB4\"m\"\xE6\x9C\x88\"";
    case 28: case 29: case 51: case 53: case 54: case 58:
        return "m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"";
    case 30: return "m-d-yy";
    case 31: return "yyyy\"\xE5\xB9\xB4\"m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"";
    case 32: return "h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"";
    case 33: return "h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"ss\"\xE7\xA7\x92\"";
    case 34: case 55:
        return "\xE4\xB8\x8A\xE5\x8D\x88/\xE4\xB8\x8B\xE5\x8D\x88h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"";
    case 35: case 56:
        return "\xE4\xB8\x8A\xE5\x8D\x88/\xE4\xB8\x8B\xE5\x8D\x88h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"ss\"\xE7\xA7\x92\"";
    }
    return nullptr;
}

NumberFormat::NumberFormat(std::string_view code) : m_code(code)
{
    m_general = true;
}

NumberFormat::~NumberFormat() = default;

bool NumberFormat::isDate() const { return false; }

void NumberFormat::appendNumber(double value, bool, std::string &out) const
{
    appendGeneral(value, out);
}

void NumberFormat::appendText(std::string_view text, std::string &out) const
{
    out.append(text.data(), text.size());
}

} // namespace sd
