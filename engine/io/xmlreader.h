#pragma once

// A minimal pull tokenizer for the XML of OOXML parts. It reads from a
// ByteSource through a window that grows only as far as the longest token,
// so a 150 MB sheet is parsed in a few hundred kilobytes of buffer. Element
// and attribute names are reported without their namespace prefix (x:c and
// c are the same), which covers any prefix and both the Transitional and the
// Strict namespaces. A DOCTYPE is refused (no entity expansion, ever).

#include "io/bytesource.h"
#include "io/error.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sd {

struct XmlAttribute
{
    std::string_view name; // local name
    std::string_view value; // raw: entities not yet decoded
};

class XmlReader
{
public:
    enum Event { StartElement, EndElement, Text, End };

    // where names the part in error messages; sizeHint (the part's size,
    // when known) keeps the window of a small part small.
    XmlReader(ByteSource &source, std::string where, uint64_t sizeHint = UINT64_MAX);

    // Advances to the next event. Returns End at the end of the document or
    // on error (then error() is set). An empty element <a/> gives
    // StartElement followed by EndElement.
    Event next();

    // The current element's local name (StartElement / EndElement).
    std::string_view name() const { return m_name; }
    // Attributes of the current StartElement.
    const std::vector<XmlAttribute> &attributes() const { return m_attributes; }
    std::string_view attribute(std::string_view localName) const;
    // Whether the current Text event's raw text holds entities to decode
    // (CDATA text never does).
    bool rawHasEntities() const { return m_textHasAmp; }
    // Appends the decoded text of the current Text event to out, with line
    // ends normalised as XML requires (CR LF and lone CR become LF; a CR
    // written as &#13; or _x000D_ survives).
    bool appendText(std::string &out);
    int depth() const { return m_depth; }

    // A whole cell element of the two common shapes, <c .../> and
    // <c ...><v>text</v></c>, unprefixed, with plain text.
    struct FastCell
    {
        std::string_view r, s, t; // attribute values (raw; empty when absent)
        std::string_view v; // text of <v>
        bool hasV = false;
    };
    // Consumes one such element if it is next and lies wholly in the window;
    // otherwise consumes nothing and returns false (use next()). A shortcut
    // for sheet data only: it reports no events.
    bool fastCell(FastCell &cell);
    const Error &error() const { return m_error; }

    // Decodes entity and character references of raw text into out.
    // False on a malformed reference.
    static bool decode(std::string_view raw, std::string &out);

private:
    enum Scan { Done, NeedMore, Failed };
    Scan scanToken(Event &event);
    Scan scanText(Event &event);
    Scan skipMarkup(const char *terminator, size_t from);
    Scan scanDeclaration(Event &event, bool &skipped);
    Scan scanEndTag(Event &event);
    Scan scanTag(size_t start, Event &event);
    Scan scanAttributes(size_t &p);
    Scan cutTag();
    Scan malformedTag();
    bool refill();
    void fail(ErrorCode code, const std::string &detail);

    bool detectEncoding();

    ByteSource *m_source; // the part, or m_utf16 reading it
    std::unique_ptr<ByteSource> m_utf16; // transcodes a UTF-16 part
    bool m_encodingKnown = false;
    std::string m_where;
    std::string m_buffer;
    size_t m_begin = 0; // first unconsumed byte
    size_t m_end = 0; // end of valid data
    bool m_eof = false;
    bool m_pendingEnd = false;
    int m_depth = 0;
    // Hashes of the qualified names of the open elements: an end tag must
    // name the element it closes. (Hashes, since a name may be megabytes.)
    std::vector<size_t> m_open;
    uint64_t m_consumed = 0; // bytes before m_buffer[0], for error offsets
    std::string_view m_name;
    std::string m_pendingName;
    std::vector<XmlAttribute> m_attributes;
    std::string_view m_text;
    bool m_textHasAmp = false;
    bool m_textHasCr = false;
    size_t m_textScanned = 0; // of a text token cut by the window's end
    Error m_error;
};

// Decodes the _xHHHH_ escapes of spreadsheet text in place (a character
// that XML cannot carry, such as _x000D_ for CR; _x005F_ escapes "_").
void decodeOoxmlEscapes(std::string &text, size_t from = 0);

// Text of a spreadsheet <t> element keeps its leading and trailing white
// space (space, tab, CR, LF) only under xml:space="preserve"; the
// application drops it otherwise. Trims text[from..] in place.
void trimXmlSpace(std::string &text, size_t from = 0);
// Whether an element with this xml:space attribute value (empty when
// absent) keeps its white space, given what its parent keeps.
inline bool keepsXmlSpace(std::string_view attribute, bool inherited)
{
    return attribute.empty() ? inherited : attribute == "preserve";
}

} // namespace sd
