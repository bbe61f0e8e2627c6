// The simulator of the QQ Zone family services: one loopback HTTP server that routes by Host header
// and path, answers from a scenario (JSON) the way the real services write their answers, decides
// access from the request's cookies, serves deterministic picture bytes, and logs every request.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace qm::sim {

struct LoggedRequest {
    std::string method, host,
        target;               // target = path + "?" + query exactly as received (still percent-encoded)
    std::string path, query;  // split of target, still encoded
    std::map<std::string, std::string> headers;  // lower-case names
    std::string cookies;                         // the Cookie header
    int status = 0;                              // status code of the answer (0 while unanswered)
};

class Simulator {
public:
    explicit Simulator(nlohmann::json scenario);
    // Reads a scenario file; throws std::runtime_error with a clear message on unreadable or bad files.
    static std::unique_ptr<Simulator> FromFile(const std::string& path);
    // The demo scenario compiled into the program (sim/scenarios/demo.json at build time).
    static std::unique_ptr<Simulator> Demo();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    int Start(int port = 0);  // serves on 127.0.0.1 in background threads; returns the port, 0 on failure
    void Stop();
    int Port() const;
    std::string ConnectTo() const;  // "127.0.0.1:PORT" for QUILLMOSS_CONNECT_TO / qm::SetConnectTo
    std::vector<LoggedRequest> Requests() const;
    void ClearRequests();
    // The exact bytes served for a picture (by its scenario "id"), for byte-by-byte comparison.
    // Empty when no picture of that id exists.
    std::string PictureBytes(const std::string& pictureId) const;
    const nlohmann::json& Scenario() const;

    // The address ("http://host/target") a client is meant to download for a picture of the scenario,
    // after the replacements the fetchers apply; empty for an unknown id.
    std::string PictureAddress(const std::string& pictureId) const;
    // The exact bytes served for the film of a video item; empty when the item has no film.
    std::string FilmBytes(const std::string& pictureId) const;
    // The signed download address of that film ("http://host/path?vkey=..."); empty when none.
    std::string FilmAddress(const std::string& pictureId) const;
    // Forgets every album password entered so far (as after a new login).
    void ResetPasswords();
    // The request log is on by default; a long-running server switches it off to keep memory flat.
    void SetLogging(bool on);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Deterministic picture bytes of a given format ("jpg","png","gif","bmp") and size, seeded by id; real
// signatures; small sizes decodable.
std::string MakePictureBytes(const std::string& id, size_t size, const std::string& format);
// Film bytes: a real MP4 of one frame, padded to `size` (at least MinFilmSize()) with a "free" box
// of bytes seeded by id.
std::string MakeFilmBytes(const std::string& id, size_t size);
size_t MinFilmSize();
// The request token of the QQ services computed from a login cookie's value.
unsigned QZoneToken(const std::string& key);

}  // namespace qm::sim
