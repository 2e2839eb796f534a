#include "core/numfmt.h"
#include "core/numfmtsection_p.h"

#include <algorithm>
#include <cmath>

namespace sd {

const char *builtinNumberFormat(int id)
{
    static const char *const usEnglish[] = {
        "General",
        "0",
        "0.00",
        "#,##0",
        "#,##0.00",
        "\"$\"#,##0_);\\(\"$\"#,##0\\)",
        "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)",
        "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)",
        "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)",
        "0%",
        "0.00%",
        "0.00E+00",
        "# ?/?",
        "# ?\?/??", // "\?" keeps "??/" from reading as a trigraph
        "m/d/yyyy",
        "d-mmm-yy",
        "d-mmm",
        "mmm-yy",
        "h:mm AM/PM",
        "h:mm:ss AM/PM",
        "h:mm",
        "h:mm:ss",
        "m/d/yyyy h:mm",
    };
    if (id >= 0 && id < int(sizeof usEnglish / sizeof usEnglish[0]))
        return usEnglish[id];
    switch (id) {
    case 37:
        return "#,##0 ;(#,##0)";
    case 38:
        return "#,##0 ;[Red](#,##0)";
    case 39:
        return "#,##0.00;(#,##0.00)";
    case 40:
        return "#,##0.00;[Red](#,##0.00)";
    case 41:
        return "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)";
    case 42:
        return "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)";
    case 43:
        return "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)";
    case 44:
        return "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)";
    case 45:
        return "mm:ss";
    case 46:
        return "[h]:mm:ss";
    case 47:
        // ECMA-376 prints "mmss.0", a misprint: the application shows minutes,
        // a colon and seconds. Its own files agree: sheetjs number_format.xls
        // (saved by Excel) keeps "mmss.0" as custom format 167, not as id 47.
        return "mm:ss.0";
    case 48:
        return "##0.0E+0";
    case 49:
        return "@";
    // East Asian ids: the Simplified Chinese definitions.
    case 27:
    case 36:
    case 50:
    case 52:
    case 57:
        return "yyyy\"\xE5\xB9\xB4\"m\"\xE6\x9C\x88\"";
    case 28:
    case 29:
    case 51:
    case 53:
    case 54:
    case 58:
        return "m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"";
    case 30:
        return "m-d-yy";
    case 31:
        return "yyyy\"\xE5\xB9\xB4\"m\"\xE6\x9C\x88\"d\"\xE6\x97\xA5\"";
    case 32:
        return "h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"";
    case 33:
        return "h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"ss\"\xE7\xA7\x92\"";
    case 34:
    case 55:
        return "\xE4\xB8\x8A\xE5\x8D\x88/"
               "\xE4\xB8\x8B\xE5\x8D\x88h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"";
    case 35:
    case 56:
        return "\xE4\xB8\x8A\xE5\x8D\x88/"
               "\xE4\xB8\x8B\xE5\x8D\x88h\"\xE6\x97\xB6\"mm\"\xE5\x88\x86\"ss\"\xE7\xA7\x92\"";
    }
    return nullptr;
}

namespace {

// The literal digits of a number section with Chinese numerals are marked,
// so that only the digits of the number itself turn into numerals (a date
// section converts token by token and needs no marks).
void markLiteralDigits(FormatSection &sec)
{
    if (!sec.numerals.active() || sec.kind == SectionKind::Date)
        return;
    for (Token &t : sec.tokens) {
        if (t.kind != Tok::Literal)
            continue;
        for (char &c : t.text) {
            if (c >= '0' && c <= '9')
                c = char(kLiteralDigitMark + (c - '0'));
        }
    }
}

// Appends |value| (already scaled) through a number section.
void renderNumberSection(const FormatSection &sec, double v, std::string &out)
{
    if (sec.kind == SectionKind::Text) {
        for (const Token &t : sec.tokens) {
            if (t.kind == Tok::Literal)
                out += t.text;
            else if (t.kind == Tok::Text)
                appendGeneral(v, out);
        }
    } else if (sec.fraction) {
        renderFraction(sec, v, out);
    } else if (sec.exponent) {
        renderExponent(sec, v, out);
    } else {
        renderPlain(sec, v, out);
    }
}

} // namespace

NumberFormat::NumberFormat(std::string_view code)
    : m_code(code)
{
    if (code.empty() || (code.size() == 7 && startsWithNoCase(code, 0, "general"))) {
        m_general = true;
        return;
    }
    m_sections = tokenizeFormatCode(code);
    // A fifth section and beyond mean nothing.
    if (m_sections.size() > 4)
        m_sections.resize(4);
    for (FormatSection &section : m_sections) {
        analyzeFormatSection(section);
        if (section.invalid) {
            m_sections.clear();
            m_general = true;
            return;
        }
    }
    const int count = int(m_sections.size());
    if (count == 4)
        m_textSection = 3;
    else if (m_sections.back().hasText && m_sections.back().kind != SectionKind::Number)
        m_textSection = count - 1;
    m_numericSections = m_textSection >= 0 ? std::min(count - 1, 3) : count;
    if (m_numericSections == 0)
        m_general = m_textSection < 0;
    for (int i = 0; i < m_numericSections; ++i)
        markLiteralDigits(m_sections[size_t(i)]);
}

NumberFormat::~NumberFormat() = default;

bool NumberFormat::isDate() const
{
    for (int i = 0; i < m_numericSections; ++i) {
        if (m_sections[size_t(i)].kind == SectionKind::Date)
            return true;
    }
    return false;
}

int NumberFormat::sectionFor(double v) const
{
    const int count = m_numericSections;
    if (count == 0)
        return -1;
    const FormatSection &s0 = m_sections[0];
    if (s0.hasCondition) {
        if (s0.conditionHolds(v))
            return 0;
    } else if (count == 1 || (count == 2 && v >= 0) || v > 0) {
        return 0;
    }
    if (count < 2)
        return -1;
    const FormatSection &s1 = m_sections[1];
    if (s1.hasCondition) {
        if (s1.conditionHolds(v))
            return 1;
    } else if (v < 0 || (count == 2 && s0.hasCondition)) {
        return 1;
    }
    return count >= 3 ? 2 : -1;
}

void NumberFormat::appendNumber(double value, bool date1904, std::string &out) const
{
    if (m_general) {
        appendGeneral(value, out);
        return;
    }
    if (!std::isfinite(value)) {
        out += "#NUM!";
        return;
    }
    const int index = sectionFor(value);
    if (index < 0) {
        appendGeneral(value, out);
        return;
    }
    const FormatSection &sec = m_sections[size_t(index)];
    // The second section shows the magnitude: the sign is its own to write.
    // So does a section whose condition holds for negative numbers only:
    // the application shows -25 through "[<=-25]General;..." as 25, but -1
    // through "[<=9999999]###-####;..." as "--1" (corpus sheetjs
    // NumberFormatCondition.xlsm and number_format.xlsm, sheet 3). A section
    // without digit placeholders shows no sign either.
    const bool magnitudeOnly = sec.hasCondition ? sec.negativeCondition() : index == 1;
    if (sec.kind == SectionKind::Date) {
        // A lone elapsed count ([h], [mm], [s]) may be negative; anything
        // with a clock or calendar part ([h]:mm:ss too) may not (corpus
        // sheetjs LONumbers.xlsx and number_format.xlsm, sheet 3).
        if (value < 0 && sec.elapsedOnly && !magnitudeOnly) {
            out += '-';
            renderDate(sec, -value, date1904, out);
        } else {
            renderDate(sec, value, date1904, out);
        }
        return;
    }
    const bool showSign = value < 0 && !magnitudeOnly && (sec.hasPlaceholders || sec.general);
    double v = std::fabs(value);
    for (int k = 0; k < sec.percent; ++k)
        v *= 100;
    for (int k = 0; k < sec.scale; ++k)
        v /= 1000;
    const size_t signAt = out.size();
    if (showSign)
        out += '-';
    const size_t body = out.size();
    renderNumberSection(sec, v, out);
    // A lone number section shows a negative number whose displayed digits
    // are all zero without its sign: 0.000 for -1.8E-16 through "0.000". With
    // a negative section the sign still picks the section ("($0.00)" for a
    // tiny negative through "$#,##0.00_);($#,##0.00)").
    if (showSign && m_numericSections == 1) {
        std::string zero;
        renderNumberSection(sec, 0.0, zero);
        if (out.compare(body, std::string::npos, zero) == 0)
            out.erase(signAt, 1);
    }
    if (sec.numerals.active())
        transliterateDigits(out, body, sec.numerals, sec.general || sec.kind == SectionKind::Text);
}

void NumberFormat::appendText(std::string_view text, std::string &out, size_t maxBytes) const
{
    // Empty text (a formula's "" result) goes through the text section too:
    // "_(@_)" shows it as two spaces.
    if (m_textSection < 0) {
        out.append(text.data(), std::min(text.size(), maxBytes));
        return;
    }
    size_t room = maxBytes;
    auto append = [&](std::string_view part) {
        const size_t n = std::min(part.size(), room);
        out.append(part.data(), n);
        room -= n;
    };
    for (const Token &t : m_sections[size_t(m_textSection)].tokens) {
        if (room == 0)
            break;
        if (t.kind == Tok::Literal)
            append(t.text);
        else if (t.kind == Tok::Text || t.kind == Tok::General)
            append(text);
    }
}

} // namespace sd
