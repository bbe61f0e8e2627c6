#include "core/OutcomeWords.h"

namespace qm {

namespace {

template <typename E>
struct Word {
    E value;
    const char* word;
};

constexpr Word<PictureStatus> kStatusWords[] = {
    {PictureStatus::Saved, "saved"},
    {PictureStatus::AlreadyHad, "already_had"},
    {PictureStatus::Failed, "failed"},
};

// The first word of a value is the one written; later ones are only read (older archives).
constexpr Word<AlbumReason> kReasonWords[] = {
    {AlbumReason::None, ""},
    {AlbumReason::NoAccess, "no_access"},
    {AlbumReason::Password, "password"},
    {AlbumReason::Empty, "empty"},
    {AlbumReason::RateLimited, "rate_limited"},
    {AlbumReason::Network, "network"},
    {AlbumReason::Stopped, "stopped"},
    {AlbumReason::Unwritable, "unwritable"},
    {AlbumReason::LoginNeeded, "login_needed"},
    {AlbumReason::NoAccess, "no-access"},
    {AlbumReason::RateLimited, "rate-limited"},
};

constexpr Word<FailureKind> kFailureWords[] = {
    {FailureKind::HttpStatus, "http"},       {FailureKind::Timeout, "timeout"},
    {FailureKind::SizeLimit, "size"},        {FailureKind::WriteError, "write"},
    {FailureKind::Connection, "connection"}, {FailureKind::Stopped, "stopped"},
    {FailureKind::Unsafe, "unsafe"},         {FailureKind::RateLimited, "rate_limited"},
    {FailureKind::DiskFull, "disk_full"},    {FailureKind::NotAPicture, "not_a_picture"},
    {FailureKind::Other, "other"},           {FailureKind::RateLimited, "rate-limited"},
    {FailureKind::FilmNotReady, "film_not_ready"}, {FailureKind::FilmStreamOnly, "film_stream_only"},
};

template <typename E, std::size_t N>
const char* WordOf(const Word<E> (&table)[N], E value, const char* fallback) {
    for (const auto& w : table)
        if (w.value == value) return w.word;
    return fallback;
}

template <typename E, std::size_t N>
E ValueOf(const Word<E> (&table)[N], std::string_view word, E fallback) {
    for (const auto& w : table)
        if (word == w.word) return w.value;
    return fallback;
}

}  // namespace

const char* PictureStatusWord(PictureStatus status) {
    return WordOf(kStatusWords, status, "failed");
}

const char* AlbumReasonWord(AlbumReason reason) {
    return WordOf(kReasonWords, reason, "");
}

AlbumReason AlbumReasonFromWord(std::string_view word) {
    return ValueOf(kReasonWords, word, AlbumReason::None);
}

const char* FailureKindWord(FailureKind kind) {
    return WordOf(kFailureWords, kind, "other");
}

FailureKind FailureKindFromWord(std::string_view word) {
    return ValueOf(kFailureWords, word, FailureKind::Other);
}

}  // namespace qm
