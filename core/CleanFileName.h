// Turning any text into a legal file-name component, and the picture-extension test.
#pragma once

#include "net/StringCtrl.h"

namespace qm {

// Number that selects the time-stamp fallback name.
inline constexpr unsigned kTimeStampFallback = 0xFFFF;

// Cleans `text` in place. With `fallback`, an empty or overlong result is replaced by a generated
// name built from `number` (0xFFFF: a time stamp).
void CleanFileName(Text& text, bool fallback, unsigned number);
bool IsPictureExtension(TextView name);
// Makes a cleaned component that was cut afterwards acceptable to Windows again: trailing dots and
// blanks go, and a device name (CON, NUL, COM1, ... with or without an extension) gets a leading
// "_". A cleaned, uncut name is left as it is.
void KeepWindowsSafe(Text& component);

}  // namespace qm
