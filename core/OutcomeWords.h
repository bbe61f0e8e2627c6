// The one word for each value of the outcome enums, shared by everything that stores or prints
// them for a program to read: the archive, album.json and the terminal's JSON events. Words for
// people are the presenters' business, not these.
#pragma once

#include <string_view>

#include "core/Outcome.h"

namespace qm {

const char* PictureStatusWord(PictureStatus status);  // "saved", "already_had", "failed"
const char* AlbumReasonWord(AlbumReason reason);      // "" for None, "no_access", ...
// The reason a word names; the words older archives wrote ("no-access", "rate-limited") too.
// An unknown word reads as None.
AlbumReason AlbumReasonFromWord(std::string_view word);
const char* FailureKindWord(FailureKind kind);  // "http", "timeout", ...; "other" when unknown
FailureKind FailureKindFromWord(std::string_view word);

}  // namespace qm
