// The services of the QQ Zone family, one row each. This table is the only place a service is
// named: the terminal's --kind words, the window's kind choice, the report's headings, album.json,
// the jobs and the login all read it. A new service is its fetcher, its row, its simulator
// answers and its test.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/Outcome.h"
#include "sites/Fetcher.h"

namespace qm {

// Which wording the front ends use when a target of the service has no album.
enum class NoAlbumsWording : uint8_t { QZone, Group, Weibo, Generic };

struct Service {
    TargetKind kind;
    const char* word;              // the terminal's --kind word and album.json's "kind"
    // The terminal's help (UTF-8): what the service's albums are, what its target is, and what
    // its addresses are called (null for the default, which takes every other address).
    const char* helpAlbums;
    const char* helpTarget;
    const char* helpAddress;
    const char16_t* caption;       // the window's kind choice
    const char16_t* name;          // the report's heading ("QQ空间 123456789")
    // An address that holds this (after its first character) names the service; null: none, the
    // service is the default of the family.
    const char16_t* addressMark;
    // A target that is one of the service's pages ("http://" + mark + "/...") is served by it,
    // whichever other kind than the default was chosen.
    bool claimsItsPages;
    NoAlbumsWording noAlbums;
    const char16_t* loginAddress;  // where the service's login starts (a QQ number may follow)
    Fetcher& (*fetcher)();
};

// Every row, in the window's order: the kind choice's index is the row's position.
std::span<const Service> Services();
// The row of a kind (the first row for a number no row has).
const Service& ServiceOf(TargetKind kind);
// The row of a --kind word; null when none has it.
const Service* ServiceByWord(std::string_view word);
// The service an address of the family names: the last row whose mark it holds, else the
// default (the row without a mark).
const Service& ServiceOfAddress(TextView address);
// The service that serves `target` when `chosen` was picked: a service's own page address claims
// it, unless the default was chosen.
const Service& ServingService(TargetKind chosen, TextView target);

}  // namespace qm
