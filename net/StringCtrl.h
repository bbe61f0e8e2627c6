// Text utilities: conversions between UTF-16 and the sites' byte encodings, marker-based field
// cutting, escape and entity decoding, and the cipher for the program's stored strings.
// All text is UTF-16; byte strings are std::string. Searches are case-sensitive, first match from
// the left. Nothing here throws or reports an error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

using Text = std::u16string;
using TextView = std::u16string_view;
using Bytes = std::string;

// Code page numbers understood by the conversions.
inline constexpr unsigned CP_GBK = 936;    // also the "ANSI" code page on every platform
inline constexpr unsigned CP_BIG5 = 950;
inline constexpr unsigned CP_UTF8 = 65001;

// --- conversions -------------------------------------------------------------------------------
Bytes TextToGbk(TextView text);                                  // ends at the first NUL byte
Text MultiByteToText(std::string_view bytes, unsigned codePage);  // ends at the first NUL char
// `bytes` up to their first NUL, widened, when every byte before it is ASCII: the text that each of
// the code pages above reads them as. False, with `out` unspecified, when a byte above 0x7F comes
// first.
bool AsciiToText(std::string_view bytes, Text& out);
Text AnsiToText(std::string_view bytes);                          // code page 936, up to first NUL
bool IsUtf8Text(std::string_view bytes);

// Lossless UTF-8 <-> UTF-16 for file-system paths, terminals and JSON (not a site conversion).
std::string ToUtf8(TextView text);
Text FromUtf8(std::string_view utf8);

// --- searching and cutting ---------------------------------------------------------------------
enum CutFlags : unsigned { CUT_CONSUME = 0x01, CUT_OPEN_END = 0x02 };

int CountOccurrences(TextView text, TextView sep);
int SplitByMarker(TextView text, TextView sep, std::vector<Text>& out);
// With CUT_CONSUME the view moves to just after the start marker, so cutting every field of a
// page is linear in its size.
Text CutBetween(TextView& text, TextView start, TextView end, unsigned flags = 0);
// Same on an owned string (the string itself is shortened with CUT_CONSUME).
Text CutBetween(Text& text, TextView start, TextView end, unsigned flags = 0);
int DeleteThrough(Text& text, TextView marker, bool includeMarker);
int KeepBefore(Text& text, TextView marker);
void ReplacePairs(Text& text, TextView findList, TextView replaceList);
Text StripTags(TextView text);

// --- decoding ----------------------------------------------------------------------------------
void DecodeHtmlEntities(Text& text);
Text DecodeUnicodeEscapes(TextView text);

// --- other -------------------------------------------------------------------------------------
Text RandomFraction();  // "%0.16f\n" of a draw reseeded with the current second

// Trims blanks, tabs, CR and LF on both sides.
Text Trim(TextView text);
// printf-style formatting into UTF-16 for the fixed formats of the program ("%d", "%04d", "%4u"…).
// The format is ASCII; "%s" arguments are UTF-8 `const char*` (use ToUtf8 for a Text).
Text FormatText(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Replaces every occurrence of `from` by `to`, left to right, without rescanning inserted text.
void ReplaceAll(Text& text, TextView from, TextView to);

// The cipher of the program's stored strings (prompts, help and home-page addresses).
std::string EncipherText(TextView plain);
Text DecipherText(std::string_view hex);

}  // namespace qm
