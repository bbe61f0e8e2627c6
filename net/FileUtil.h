// File-system edges: UTF-16 text to native paths, and atomic writes (temporary file in the same
// folder, then rename), so a crash or a full disk never leaves a half-written file under its name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "net/StringCtrl.h"

namespace qm {

std::filesystem::path PathFromText(TextView text);
Text TextFromPath(const std::filesystem::path& path);

// Writes `data` to `target` through a temporary file in the same folder (AtomicFileWriter below)
// that takes the final name only when complete. `mode` (e.g. 0600) applies when not 0. Returns
// false, leaving any old file untouched, when anything fails. `durable` also flushes the data to
// the disk before the file takes its name, so it survives a power loss (settings, cookies);
// without it the final name still never shows a half-written file (pictures, which can be
// fetched again).
bool WriteFileAtomic(const std::filesystem::path& target, std::string_view data, unsigned mode = 0,
                     bool durable = true);

// A file written piece by piece in the target's folder and put under its final name only by Commit.
// Where the file system allows it the file has no name at all until then (nothing is left behind
// even by a crash); elsewhere it is written under "<target>.<random>.tmp", created exclusively.
// Whatever was not committed is removed: by Discard, by a failed Commit, or on destruction.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::filesystem::path target, unsigned mode = 0);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the temporary file; false when it cannot be created.
    bool Open();
    bool IsOpen() const { return fd_ >= 0; }
    // Appends to the temporary file; false (and nothing more is written) once a write failed.
    bool Write(std::string_view data);
    // Closes the temporary file and renames it to the target, replacing any old file.
    bool Commit(bool durable);
    // Closes and removes the temporary file (no effect when none is open).
    void Discard();

private:
    bool LinkUnnamed();

    std::filesystem::path target_;
    std::filesystem::path tmp_;  // empty while the file has no name
    unsigned mode_;
    int fd_ = -1;
    bool failed_ = false;
};

// Reads a whole file; false (never an exception) when it cannot be opened or read, or is a folder.
bool ReadWholeFile(const std::filesystem::path& path, std::string& out);

// An advisory lock (flock) on a folder, held while the object lives, so that a read-merge-write of a
// file in it is never interleaved with another process's (or another store's) doing the same.
// Without a lock (a folder that cannot be opened) the work goes on unlocked.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace qm
