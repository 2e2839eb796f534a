#pragma once

#include <cstddef>

// The settings file: key=value lines, each ended by CR LF, in the locale's
// 8-bit encoding, read and written as bytes. A key counts only where "="
// follows it directly; the first occurrence wins; a value runs to the next
// CR LF and loses its spaces and tabs at both ends. The text ends at its first
// NUL. These routines never create the file.

// Size of a settings-text buffer; a settings file holds at most SettingsTextSize - 1 bytes.
constexpr std::size_t SettingsTextSize = 20480;

// Loads the file into text (zero-filled); 0 read, -1 missing, unreadable or too long: untouched.
int LoadSettingsText(char *text, std::size_t textSize, const char *path);

// Key's trimmed value into value; 1 found, -1 absent, no CR LF after it or too long: empty.
int GetSettingsValue(char *value, std::size_t valueSize, const char *text, const char *key);

// oldText with key's line set (new keys on top) into out; 0 done, -1 too long or CR LF: empty.
int ComposeSettingsText(char *out, std::size_t outSize, const char *oldText, const char *key,
                        const char *value);

// Sets key in the existing writable file, replacing it whole; 0 written, -1 file left as it was
// (also when it is longer than a settings file may be or holds a NUL byte).
int SetSettingsValue(const char *path, const char *key, const char *value);

// 1 when SetSettingsValue could rewrite the file at path (it exists, may be
// written and replaced in its folder, and is neither too long nor holding a
// NUL byte), otherwise 0. Nothing is changed.
int SettingsFileWritable(const char *path);
