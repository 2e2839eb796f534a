#pragma once

#include <cstddef>

// The settings file: key=value lines, each ended by CR LF, in the locale's
// 8-bit encoding, read and written as bytes. A key counts only where "="
// follows it directly; the first occurrence wins; a value runs to the next
// CR LF and loses its spaces and tabs at both ends. The text ends at its first
// NUL. These routines never create the file.

// Size of a settings-text buffer; a settings file holds at most SettingsTextSize - 1 bytes.
constexpr std::size_t SettingsTextSize = 20480;

// Reads the file at path into text (textSize bytes, zero-filled by the caller);
// 0 read, -1 missing, unreadable or longer than fits (text untouched).
int LoadSettingsText(char *text, std::size_t textSize, const char *path);

// Puts the trimmed value of key in text into value (valueSize bytes);
// 1 found, -1 key absent, no CR LF after it, or value too long (value empty).
int GetSettingsValue(char *value, std::size_t valueSize, const char *text, const char *key);

// Puts into out (outSize bytes) oldText with key's line set to value, a new key going on top;
// 0 done, -1 result too long or key/value holding CR LF (out empty).
int ComposeSettingsText(char *out, std::size_t outSize, const char *oldText, const char *key,
                        const char *value);

// Sets key to value in the existing, writable file at path, replacing the file whole;
// 0 written, -1 nothing changed (missing, read-only, too long, or a failed write).
int SetSettingsValue(const char *path, const char *key, const char *value);
