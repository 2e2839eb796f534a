#pragma once

#include <cstddef>

// Byte-wise search, cut, replace and trim routines over NUL-terminated 8-bit
// strings held in buffers that the caller owns. A multi-byte character is, to
// these routines, several bytes. Positions are 0-based byte indices and -1
// means "not found".
//
// Every routine that writes takes the size of its destination in bytes (the
// terminating NUL included) and refuses a result that would not fit: it then
// returns its failure value and leaves an empty string in the destination
// (nothing at all is written when the size is 0). No routine keeps state or
// allocates memory, so all of them are re-entrant.
//
// An empty pattern never matches. Patterns and replacements must not lie
// inside the buffer that a routine changes in place.

// Size of the buffers that hold a path, a key or a value.
constexpr std::size_t PathBufferSize = 1024;

// Number of bytes of text equal to ch.
int CountChar(const char *text, char ch);

// Index of the n-th occurrence of ch in text, counting from 1; -1 when n < 1 or text has fewer.
int FindNthChar(const char *text, char ch, int n);

// Index of the last of the non-overlapping matches found scanning forward ("aa" in "aaa" is at
// 0, not 1); -1 if none.
int FindLast(const char *text, const char *pattern);

// Copies source[start, end) into dest (end clamped to the length, empty when end <= start);
// 0 copied, 1 start past the end of source (dest left exactly as it was), -1 refused
// (start < 0 or too long for destSize; dest empty). dest may be source itself.
int CopyRange(char *dest, std::size_t destSize, const char *source, int start, int end);

// Text of source after the first (or with last, the last) occurrence of pattern, or from it
// onward with keep; 1 done, -1 pattern absent or result too long (dest empty). dest may be source.
int TextAfter(char *dest, std::size_t destSize, const char *source, const char *pattern, bool keep,
              bool last);

// Text of source before the first (or last) occurrence of pattern, or up to and including it
// with keep; 1 done, -1 pattern absent or result too long (dest empty). dest may be source.
int TextBefore(char *dest, std::size_t destSize, const char *source, const char *pattern, bool keep,
               bool last);

// TextAfter(startPattern) followed by TextBefore(endPattern) on what it gave, so the end pattern
// is searched only behind the start pattern; 1 done, -1 either missing or too long (dest empty).
int TextBetween(char *dest, std::size_t destSize, const char *source, const char *startPattern,
                const char *endPattern, bool keepStart, bool keepEnd, bool lastStart, bool lastEnd);

// Replaces the first occurrence of pattern in text (a buffer of textSize bytes);
// 1 replaced, 0 no occurrence (text unchanged), -1 result too long (text empty).
int ReplaceFirst(char *text, std::size_t textSize, const char *pattern, const char *replacement);

// Replaces the first occurrence again and again, each time searching from the start, until none
// is left ("aa" by "a" turns "aaaa" into "a"); number of replacements, or -1 when the result grows
// too long or the replacement holds the pattern, which could never end (text empty).
int ReplaceAll(char *text, std::size_t textSize, const char *pattern, const char *replacement);

// Drops the spaces and tabs at the beginning of text (no other byte counts as a blank).
void TrimLeadingBlanks(char *text);

// Drops the spaces and tabs at the end of text (no other byte counts as a blank).
void TrimTrailingBlanks(char *text);
