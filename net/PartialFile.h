// The unfinished download of a large file, kept beside its final name so that a broken or stopped
// transfer resumes from what was written: the bytes in "<name>.part" and the server's validator
// (its ETag, else its Last-Modified) in "<name>.part.tag". The file takes its final name only when
// complete; until then nothing shows under that name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "net/FileUtil.h"

namespace qm {

class PartialFile {
public:
    explicit PartialFile(std::filesystem::path target);
    // The file `name` (one plain component) inside a held folder: every file is opened, renamed
    // and removed through the folder's descriptor, never by a path.
    PartialFile(std::shared_ptr<const HeldFolder> folder, std::string name);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    // What an earlier transfer left: the bytes written and the validator they belong to. Nothing
    // (0, empty) when either is missing, when the part is not a plain file, or when it is empty.
    uint64_t Resumable(std::string& validator) const;

    // Opens the part to continue at `offset` (its length must be exactly that) or, with 0, to start
    // over (anything there is cut away). `validator` is stored beside it; an empty one means the
    // bytes cannot be resumed and are removed by Abandon. False when the file cannot be opened.
    bool Begin(uint64_t offset, const std::string& validator);
    bool IsOpen() const { return fd_ >= 0; }
    bool Write(std::string_view data);
    uint64_t Size() const { return size_; }
    // The SHA-256 of the whole file (the resumed bytes too), after a successful Commit.
    const std::string& DigestHex() const { return digest_; }

    // Gives the complete part its final name (replacing an older file) and removes the validator.
    bool Commit();
    // A broken transfer: the part stays for the next attempt when it has bytes and a validator;
    // otherwise it is removed.
    void Abandon();
    // Removes the part and its validator.
    void Discard();

private:
    void Close();
    int Dir() const;

    std::shared_ptr<const HeldFolder> folder_;
    std::string target_, part_, tag_;  // names in folder_, or paths
    std::unique_ptr<Sha256Stream> hash_;
    std::string digest_;
    int fd_ = -1;
    uint64_t size_ = 0;
    bool keepable_ = false;
    bool failed_ = false;
};

// The validator of an answer's header block: the ETag value (quotes kept), else the Last-Modified
// value, else empty. A weak ETag (W/...) does not validate byte ranges and gives empty.
std::string ValidatorOf(std::string_view headerBlock);
// The first byte position of a "Content-Range: bytes FIRST-LAST/TOTAL" line; false when absent or
// malformed.
bool ContentRangeStart(std::string_view headerBlock, uint64_t& first);

}  // namespace qm
