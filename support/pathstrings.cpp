#include "pathstrings.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Leaves an empty string in dest when there is room for one.
void clear(char *dest, std::size_t destSize)
{
    if (dest && destSize > 0)
        dest[0] = '\0';
}

// Copies count bytes from src to the front of dest and terminates them. The
// two may overlap (memmove), which lets a routine shorten a string in place.
bool copyBytes(char *dest, std::size_t destSize, const char *src, std::size_t count)
{
    if (count >= destSize) {
        clear(dest, destSize);
        return false;
    }
    std::memmove(dest, src, count);
    dest[count] = '\0';
    return true;
}

// The first occurrence of pattern, or with last the last one of the
// non-overlapping forward scan; nullptr when absent or pattern is empty.
const char *locate(const char *text, const char *pattern, bool last)
{
    if (!text || !pattern || !*pattern)
        return nullptr;
    const char *found = std::strstr(text, pattern);
    if (!last || !found)
        return found;
    const std::size_t patternLength = std::strlen(pattern);
    for (const char *next = std::strstr(found + patternLength, pattern); next;
         next = std::strstr(found + patternLength, pattern))
        found = next;
    return found;
}

} // namespace

int CountChar(const char *text, char ch)
{
    int count = 0;
    for (const char *p = text; *p; ++p) {
        if (*p == ch)
            ++count;
    }
    return count;
}

int FindNthChar(const char *text, char ch, int n)
{
    if (n < 1)
        return -1;
    int seen = 0;
    for (const char *p = text; *p; ++p) {
        if (*p == ch && ++seen == n)
            return static_cast<int>(p - text);
    }
    return -1;
}

int FindLast(const char *text, const char *pattern)
{
    const char *found = locate(text, pattern, true);
    return found ? static_cast<int>(found - text) : -1;
}

int CopyRange(char *dest, std::size_t destSize, const char *source, int start, int end)
{
    if (start < 0) {
        clear(dest, destSize);
        return -1;
    }
    const std::size_t length = std::strlen(source);
    const std::size_t from = static_cast<std::size_t>(start);
    if (from > length)
        return 1; // start past the end: the destination is not even emptied
    const std::size_t to = end < 0 ? 0 : std::min(static_cast<std::size_t>(end), length);
    const std::size_t count = from < to ? to - from : 0;
    return copyBytes(dest, destSize, source + from, count) ? 0 : -1;
}

int TextAfter(char *dest, std::size_t destSize, const char *source, const char *pattern, bool keep,
              bool last)
{
    const char *found = locate(source, pattern, last);
    if (!found) {
        clear(dest, destSize);
        return -1;
    }
    const char *from = keep ? found : found + std::strlen(pattern);
    return copyBytes(dest, destSize, from, std::strlen(from)) ? 1 : -1;
}

int TextBefore(char *dest, std::size_t destSize, const char *source, const char *pattern, bool keep,
               bool last)
{
    const char *found = locate(source, pattern, last);
    if (!found) {
        clear(dest, destSize);
        return -1;
    }
    const char *to = keep ? found + std::strlen(pattern) : found;
    return copyBytes(dest, destSize, source, static_cast<std::size_t>(to - source)) ? 1 : -1;
}

int TextBetween(char *dest, std::size_t destSize, const char *source, const char *startPattern,
                const char *endPattern, bool keepStart, bool keepEnd, bool lastStart, bool lastEnd)
{
    // The text after the start pattern is always a tail of source, so the end
    // pattern can be searched in place instead of in a scratch copy.
    const char *found = locate(source, startPattern, lastStart);
    if (!found) {
        clear(dest, destSize);
        return -1;
    }
    const char *after = keepStart ? found : found + std::strlen(startPattern);
    return TextBefore(dest, destSize, after, endPattern, keepEnd, lastEnd);
}

int ReplaceFirst(char *text, std::size_t textSize, const char *pattern, const char *replacement)
{
    char *found = const_cast<char *>(locate(text, pattern, false));
    if (!found)
        return 0;
    const std::size_t length = std::strlen(text);
    const std::size_t patternLength = std::strlen(pattern);
    const std::size_t replacementLength = std::strlen(replacement);
    if (length - patternLength + replacementLength >= textSize) {
        clear(text, textSize);
        return -1;
    }
    const char *tail = found + patternLength;
    std::memmove(found + replacementLength, tail, std::strlen(tail) + 1);
    std::memcpy(found, replacement, replacementLength);
    return 1;
}

int ReplaceAll(char *text, std::size_t textSize, const char *pattern, const char *replacement)
{
    if (!locate(text, pattern, false))
        return 0;
    // A replacement that holds the pattern would be found again by the next
    // pass from the start, forever.
    if (std::strstr(replacement, pattern)) {
        clear(text, textSize);
        return -1;
    }
    int count = 0;
    int result;
    while ((result = ReplaceFirst(text, textSize, pattern, replacement)) == 1) {
        if (count < INT_MAX)
            ++count;
    }
    return result < 0 ? -1 : count;
}

void TrimLeadingBlanks(char *text)
{
    std::size_t blanks = 0;
    while (isBlank(text[blanks]))
        ++blanks;
    if (blanks > 0)
        std::memmove(text, text + blanks, std::strlen(text + blanks) + 1);
}

void TrimTrailingBlanks(char *text)
{
    std::size_t length = std::strlen(text);
    while (length > 0 && isBlank(text[length - 1]))
        --length;
    text[length] = '\0';
}
