#pragma once

// The number-format engine: turns a cell value and a format code into the text
// the spreadsheet application shows in a column 255 characters wide, in its
// US-English conventions.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sd {

// Appends `value` as the General format shows it: at most 11 characters
// (not counting a minus sign), switching to scientific notation with up to
// six significant digits when the number cannot fit.
void appendGeneral(double value, std::string &out);

// The code of a built-in number format id, or nullptr for an id that has no
// built-in definition (ids 0-49 US-English, 27-36 and 50-58 Simplified Chinese).
const char *builtinNumberFormat(int id);

struct FormatSection;

// One parsed number-format code (up to four sections). Parsing never fails:
// characters the engine does not know are shown literally, and a code the
// application refuses outright (an elapsed unit after an hour, "hh[m]")
// shows numbers in General, as the application shows them.
class NumberFormat
{
public:
    explicit NumberFormat(std::string_view code);
    ~NumberFormat();
    NumberFormat(const NumberFormat &) = delete;
    NumberFormat &operator=(const NumberFormat &) = delete;

    // Appends a number as displayed; date1904 picks the workbook's date system.
    void appendNumber(double value, bool date1904, std::string &out) const;
    // Appends a text value as displayed through the text section (if any),
    // no more than maxBytes of it: a section that repeats the text ("@@@")
    // stops there instead of building all of it.
    void appendText(std::string_view text, std::string &out, size_t maxBytes = SIZE_MAX) const;

    // True when the first section shows a date or a time.
    bool isDate() const;
    const std::string &code() const { return m_code; }

private:
    int sectionFor(double value) const; // index of the section showing value, -1: none

    std::string m_code;
    std::vector<FormatSection> m_sections;
    int m_textSection = -1; // index of the section that shows text, -1: text as is
    int m_numericSections = 0; // leading sections that show numbers
    bool m_general = false; // the whole code is "General" (the common case)
};

} // namespace sd
