// The HTTP client on libcurl.
//
// Each fetch builds its own easy handle and runs it on a multi handle taken from a small pool, so
// keep-alive connections are reused by later fetches on any thread while no connection cache is
// ever used by two threads at once. DNS answers are shared through a curl share with locks.
// Cookies come from the process-wide CookieStore: each handle is seeded with a copy of those of its
// host's domains and what the answers set goes back into the store (see CookieStore.h).
//
// Waits are kept with our own clocks between short polls: the connection must be made within
// stepWaitMs, the answer's headers must begin within stepWaitMs of sending the request, and the
// body must not stall (no byte) for readWaitMs. A slow but steady body is never cut, unless the
// request sets an overall deadline for the attempt. A stop requested through the request's stop
// token ends the transfer at the next progress callback or poll (well within a second).
#include "net/URLSource2.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "net/AnswerCookies.h"
#include "net/CookieStore.h"
#include "net/FileUtil.h"
#include "net/PartialFile.h"
#include "net/Trace.h"

namespace qm {

namespace {

// Deadlines of a transfer run on the real clock: they guard a live connection, which an injected
// clock (a test's) would never end.
Clock::time_point Now() {
    return SystemClock().Now();
}

// --- process-wide curl state -------------------------------------------------------------------

std::array<std::mutex, CURL_LOCK_DATA_LAST> g_shareLocks;

void ShareLock(CURL*, curl_lock_data data, curl_lock_access, void*) {
    g_shareLocks[data].lock();
}
void ShareUnlock(CURL*, curl_lock_data data, void*) {
    g_shareLocks[data].unlock();
}

CURLSH* g_share = nullptr;
std::once_flag g_initOnce;

std::mutex g_connectToMutex;
std::vector<std::string> g_connectTo;  // curl CONNECT_TO entries

// Multi handles (each with its own connection cache) waiting for the next fetch. The pool lives
// for the whole process (never destroyed), so idle connections stay reachable until exit.
std::mutex g_poolMutex;
std::vector<CURLM*>& Pool() {
    static auto* pool = new std::vector<CURLM*>;
    return *pool;
}
constexpr size_t kMaxPooled = 48;

CURLM* TakeMulti() {
    {
        std::lock_guard lock(g_poolMutex);
        if (!Pool().empty()) {
            CURLM* m = Pool().back();
            Pool().pop_back();
            return m;
        }
    }
    CURLM* m = curl_multi_init();
    if (m) curl_multi_setopt(m, CURLMOPT_MAXCONNECTS, 8L);
    return m;
}

void ReturnMulti(CURLM* m) {
    {
        std::lock_guard lock(g_poolMutex);
        if (Pool().size() < kMaxPooled) {
            Pool().push_back(m);
            return;
        }
    }
    curl_multi_cleanup(m);
}

// --- small text helpers ------------------------------------------------------------------------

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// Header bytes to text: ASCII is widened directly; anything else goes through code page 936 as
// the sites' own servers write it.
Text HeaderText(const std::string& bytes) {
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\0'; });
    if (!ascii) return AnsiToText(bytes);
    Text out;
    out.reserve(bytes.size());
    for (char c : bytes) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

bool IsHttpUrl(std::string_view url) {
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

bool IsLoopbackUrl(std::string_view url) {
    const size_t p = url.find("://");
    if (p == std::string_view::npos) return false;
    const std::string_view rest = url.substr(p + 3);
    return StartsWithNoCase(rest, "127.0.0.1") || StartsWithNoCase(rest, "localhost") ||
           StartsWithNoCase(rest, "[::1]");
}

// Reads the decimal number after the first case-sensitive "Content-Length:" label of the block.
bool FindContentLength(std::string_view block, uint64_t& value) {
    const size_t at = block.find("Content-Length:");
    if (at == std::string_view::npos) return false;
    size_t i = at + 15;
    while (i < block.size() && (block[i] == ' ' || block[i] == '\t')) ++i;
    uint64_t v = 0;
    for (; i < block.size() && block[i] >= '0' && block[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(block[i] - '0');
        v = v > (UINT64_MAX - digit) / 10 ? UINT64_MAX : v * 10 + digit;
    }
    value = v;
    return true;
}

// The media type of the block's first "Content-Type:" line (any case), lower case, without
// parameters; empty when there is none.
std::string ContentTypeOf(std::string_view block) {
    while (!block.empty()) {
        const size_t eol = block.find("\r\n");
        const std::string_view line = block.substr(0, eol);
        block = eol == std::string_view::npos ? std::string_view{} : block.substr(eol + 2);
        if (!StartsWithNoCase(line, "content-type:")) continue;
        std::string_view value = line.substr(13);
        value = value.substr(0, value.find(';'));
        std::string type;
        for (char c : value) {
            if (c == ' ' || c == '\t') continue;
            type += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return type;
    }
    return {};
}

// An error page sent with status 200: a picture address never answers a page or plain text.
bool IsTextPage(std::string_view type) {
    return type == "text/html" || type == "text/plain";
}

// True when a "Content-Encoding:" line of the block (any case) names gzip.
bool ContentEncodingGzip(std::string_view block) {
    while (!block.empty()) {
        const size_t eol = block.find("\r\n");
        const std::string_view line = block.substr(0, eol);
        block = eol == std::string_view::npos ? std::string_view{} : block.substr(eol + 2);
        if (!StartsWithNoCase(line, "content-encoding:")) continue;
        const std::string_view value = line.substr(17);
        for (size_t i = 0; i + 4 <= value.size(); ++i)
            if (StartsWithNoCase(value.substr(i), "gzip")) return true;
    }
    return false;
}

// --- one transfer ------------------------------------------------------------------------------

enum class Phase { Connecting, AwaitHeaders, Headers, Body };
// Why a transfer was cut short by the client itself (a wait, a limit, a stop), as opposed to curl's
// own errors; FetchFailure says it to the caller.
enum class TransferAbort {
    None,
    ConnectWait,
    HeaderWait,
    HeaderStall,
    BodyStall,
    LengthLabel,
    TooLarge,
    WriteFailed,
    Deadline,
    Stopped,
    NotAPicture,
    ResumeRefused
};

const char* AbortText(TransferAbort f) {
    switch (f) {
        case TransferAbort::None:
            return "";
        case TransferAbort::ConnectWait:
            return "connection not made in time";
        case TransferAbort::HeaderWait:
            return "no answer in time";
        case TransferAbort::HeaderStall:
            return "header stalled";
        case TransferAbort::BodyStall:
            return "body stalled";
        case TransferAbort::LengthLabel:
            return "Content-Length outside the limits";
        case TransferAbort::TooLarge:
            return "body larger than the limit";
        case TransferAbort::WriteFailed:
            return "cannot write the file";
        case TransferAbort::Deadline:
            return "attempt took longer than its deadline";
        case TransferAbort::Stopped:
            return "stopped";
        case TransferAbort::NotAPicture:
            return "the answer is a text page, not a picture";
        case TransferAbort::ResumeRefused:
            return "the answer does not continue the partial file";
    }
    return "";
}

FailureKind KindOf(TransferAbort f) {
    switch (f) {
        case TransferAbort::LengthLabel:
        case TransferAbort::TooLarge:
            return FailureKind::SizeLimit;
        case TransferAbort::WriteFailed:
            return FailureKind::WriteError;
        case TransferAbort::Stopped:
            return FailureKind::Stopped;
        case TransferAbort::NotAPicture:
            return FailureKind::NotAPicture;
        case TransferAbort::ResumeRefused:
            return FailureKind::Connection;
        case TransferAbort::None:
            return FailureKind::None;
        default:
            return FailureKind::Timeout;
    }
}

// Records why the fetch failed and returns false, so every exit says what happened.
bool Fail(ST_URLRESPONSE& resp, FailureKind kind, std::string text, long status = 0) {
    resp.failure = FetchFailure{kind, status, std::move(text)};
    return false;
}

// A file that could not be written, in the system's words; a full disk (or quota) is its own kind,
// since no later picture can be saved either.
bool FailWrite(ST_URLRESPONSE& resp, int error) {
    const bool full = error == ENOSPC || error == EDQUOT;
    return Fail(resp, full ? FailureKind::DiskFull : FailureKind::WriteError,
                std::strerror(error != 0 ? error : EIO));
}

struct Transfer {
    const ST_URLREQUEST* req = nullptr;
    ST_URLRESPONSE* resp = nullptr;
    uint64_t minBytes = 0;
    uint64_t maxBytes = 0;  // 0 = no maximum
    // A compressed picture: the size limits apply to the inflated bytes when it is saved.
    bool limitsAfterInflating = false;
    Clock::time_point deadline = Clock::time_point::max();

    Phase phase = Phase::Connecting;
    Clock::time_point phaseStart;  // when the current wait began
    TransferAbort failure = TransferAbort::None;

    std::string block;  // header block of the answer being received
    long status = 0;
    bool hasLocation = false;
    bool redirect = false;                // the answer is a redirect: its body is skipped
    std::vector<std::string> setCookies;  // values of the answer's Set-Cookie lines
    std::string contentType;              // of the final answer, lower case, without parameters
    bool textPage = false;                // a picture request answered with a text page
    int writeError = 0;                   // errno of a failed write into the temporary file

    // Saving: a picture answer larger than kKeepInMemory goes into the temporary file as it
    // arrives instead of into resp->body (see OnBody).
    bool stream = false;   // this answer may be streamed into the file
    uint64_t spillAt = 0;  // ... once the body holds more bytes than this
    std::unique_ptr<AtomicFileWriter> file;

    // A resumable save (req->resumable): the part file, the offset asked for and its validator.
    std::unique_ptr<PartialFile> part;
    uint64_t resumeFrom = 0;
    std::string validator;
    bool partActive = false;  // the answer's body goes into `part`, after `base` bytes kept
    uint64_t base = 0;
    bool restart = false;  // the server did not continue the part: start over without Range
};

// A saved body up to this size is kept whole in the response and written at the end; a larger one
// is written to the temporary file as it arrives, so memory stays small however large the
// picture is. Compressed answers (inflated before saving) and error answers (never saved) always
// stay in memory.
constexpr uint64_t kKeepInMemory = 128 * 1024;
// Memory reserved up front from a Content-Length label, at most (the label may lie).
constexpr uint64_t kMaxReserve = 16 * 1024 * 1024;
// Bytes of a text page answered for a picture that are kept to be shown in the trace.
constexpr size_t kTextPagePeek = 512;
// Receive buffer of each transfer: larger pieces mean fewer callbacks and writes per picture, but
// every transfer holds its own; at 64 KiB a 200 KiB picture takes four writes, and 15 transfers
// hold 1 MiB instead of the 3.75 MiB that 256 KiB pieces cost, at no measurable cost in speed.
constexpr long kReceiveBuffer = 64 * 1024;

void Enter(Transfer& t, Phase p) {
    t.phase = p;
    t.phaseStart = Now();
}

// Called by curl at least once a second during a transfer, and after every piece of it.
int OnProgress(void* ud, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& t = *static_cast<Transfer*>(ud);
    if (t.req->stop.stop_requested()) {
        t.failure = TransferAbort::Stopped;
        return 1;
    }
    if (Now() >= t.deadline) {
        t.failure = TransferAbort::Deadline;
        return 1;
    }
    return 0;
}

int OnPrereq(void* ud, char*, char*, int, int) {
    // A connection is ready (new or reused) and the request is about to go out.
    Enter(*static_cast<Transfer*>(ud), Phase::AwaitHeaders);
    return CURL_PREREQFUNC_OK;
}

// At most this many Set-Cookie lines of one answer are looked at for deletions (curl keeps its own
// limits on what it stores).
constexpr size_t kMaxSetCookieLines = 200;

void NoteSetCookie(Transfer& t, std::string_view line) {
    std::string_view v = line.substr(11);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    if (!v.empty() && t.setCookies.size() < kMaxSetCookieLines) t.setCookies.emplace_back(v);
}

size_t OnHeader(char* data, size_t size, size_t count, void* ud) {
    auto& t = *static_cast<Transfer*>(ud);
    const size_t len = size * count;
    std::string_view line(data, len);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);

    const bool statusLine = line.substr(0, 5) == "HTTP/";
    if (t.phase == Phase::Body && !statusLine) return len;  // trailers after a chunked body
    Enter(t, Phase::Headers);
    if (statusLine) {
        t.block.clear();
        t.hasLocation = false;
        t.redirect = false;
        t.status = 0;
        const size_t sp = line.find(' ');
        if (sp != std::string_view::npos)
            t.status = std::strtol(std::string(line.substr(sp + 1, 3)).c_str(), nullptr, 10);
    }
    if (!line.empty()) {
        t.block.append(line);
        t.block += "\r\n";
        if (StartsWithNoCase(line, "location:") && line.size() > 9) t.hasLocation = true;
        if (StartsWithNoCase(line, "set-cookie:")) NoteSetCookie(t, line);
        return len;
    }

    // The blank line ends one answer's header block.
    t.block += "\r\n";
    if (t.status >= 100 && t.status < 200) {
        Enter(t, Phase::AwaitHeaders);  // an interim answer; the real one follows
        return len;
    }
    if (t.status >= 300 && t.status < 400 && t.hasLocation) {
        t.redirect = true;  // FetchOnce follows it; only the final block counts
        return len;
    }
    ST_URLRESPONSE& r = *t.resp;
    r.headers = HeaderText(t.block);
    r.status = t.status;
    // A picture is compressed only when its Content-Encoding says so ("gzip" elsewhere, as in a
    // Vary line, says nothing about this body); pages keep the looser rule their readers expect.
    const bool picture = !t.req->savePath.empty();
    r.gzip = picture ? ContentEncodingGzip(t.block) : t.block.find("gzip") != std::string::npos;
    t.limitsAfterInflating = picture && r.gzip;
    t.contentType = ContentTypeOf(t.block);
    t.textPage = picture && t.status < 400 && IsTextPage(t.contentType);
    Enter(t, Phase::Body);
    uint64_t length = 0;
    const bool labelled = FindContentLength(t.block, length);
    if (t.part && !r.gzip && !t.textPage) {
        if (t.resumeFrom > 0 && (t.status == 416 || t.status == 206)) {
            uint64_t first = 0;
            const bool continues = t.status == 206 && ContentRangeStart(t.block, first) &&
                                   first == t.resumeFrom && ValidatorOf(t.block) == t.validator;
            if (!continues) {
                t.failure = TransferAbort::ResumeRefused;
                t.restart = true;
                return 0;
            }
            t.base = t.resumeFrom;
            r.continued = true;
        }
        if (t.status == 200 || (t.status == 206 && t.base > 0)) {
            if (labelled && (t.base + length < t.minBytes || (t.maxBytes != 0 && t.base + length > t.maxBytes))) {
                t.failure = TransferAbort::LengthLabel;
                return 0;
            }
            if (!t.part->Begin(t.base, t.base > 0 ? t.validator : ValidatorOf(t.block))) {
                t.failure = TransferAbort::WriteFailed;
                return 0;
            }
            t.partActive = true;
            return len;
        }
    }
    if (labelled && !t.limitsAfterInflating && !t.textPage &&
        (length < t.minBytes || (t.maxBytes != 0 && length > t.maxBytes))) {
        t.failure = TransferAbort::LengthLabel;
        return 0;  // abandon before any body byte is taken
    }
    t.stream = picture && t.status < 400 && !r.gzip && !t.textPage;
    if (labelled && !t.stream && length > kMaxBodyInMemory) {
        t.failure = TransferAbort::TooLarge;
        return 0;
    }
    // A body announced as large goes into the file from its first byte.
    t.spillAt = labelled && length > kKeepInMemory ? 0 : kKeepInMemory;
    if (t.stream && t.spillAt == 0) return len;
    if (labelled && length > 0 && length > r.body.capacity()) {
        try {
            r.body.reserve(static_cast<size_t>(std::min(length, t.stream ? kKeepInMemory : kMaxReserve)));
        } catch (const std::exception&) {
            // Growing as the bytes arrive still works.
        }
    }
    return len;
}

// The temporary file of a picture, digesting its bytes as they are written.
std::unique_ptr<AtomicFileWriter> PictureFile(const ST_URLREQUEST& req) {
    auto file = req.saveFolder ? std::make_unique<AtomicFileWriter>(*req.saveFolder, req.saveName)
                               : std::make_unique<AtomicFileWriter>(PathFromText(req.savePath));
    file->TakeDigest();
    return file;
}

// Puts a complete picture under its name and notes its size and digest in the answer.
bool CommitPicture(AtomicFileWriter& file, ST_URLRESPONSE& resp) {
    if (!file.Commit(false)) return false;
    resp.savedBytes = file.Written();
    resp.sha256 = file.DigestHex();
    return true;
}

// Moves the body received so far into a new temporary file; from then on the bytes go there.
// When no temporary file can be created the body stays in memory and the save fails at the end.
void StartFile(Transfer& t) {
    t.stream = false;
    auto file = PictureFile(*t.req);
    if (!file->Open()) return;
    std::string& body = t.resp->body;
    if (!body.empty() && !file->Write(body)) return;
    body.clear();
    body.shrink_to_fit();
    t.file = std::move(file);
}

size_t OnBody(char* data, size_t size, size_t count, void* ud) {
    auto& t = *static_cast<Transfer*>(ud);
    const size_t len = size * count;
    Enter(t, Phase::Body);
    if (t.redirect) return len;  // a redirect's own page is never kept
    ST_URLRESPONSE& r = *t.resp;
    r.bodySize += len;
    if (t.partActive) {
        if (!t.part->Write(std::string_view(data, len))) {
            t.failure = TransferAbort::WriteFailed;
            return 0;
        }
        if (t.maxBytes != 0 && t.base + r.bodySize > t.maxBytes) {
            t.failure = TransferAbort::TooLarge;
            return 0;
        }
        return len;
    }
    if (t.textPage) {
        // Only its first bytes are kept (to be shown with -v); the rest is never read.
        r.body.append(data, std::min(len, kTextPagePeek - std::min(kTextPagePeek, r.body.size())));
        if (r.body.size() < kTextPagePeek) return len;
        t.failure = TransferAbort::NotAPicture;
        return 0;
    }
    if (t.stream && r.bodySize > t.spillAt) StartFile(t);
    if (!t.file) {
        if (r.body.size() + len > kMaxBodyInMemory) {
            t.failure = TransferAbort::TooLarge;
            return 0;
        }
        r.body.append(data, len);
    } else if (!t.file->Write(std::string_view(data, len))) {
        t.writeError = errno;
        t.failure = TransferAbort::WriteFailed;
        return 0;
    }
    if (t.maxBytes != 0 && r.bodySize > t.maxBytes && !t.limitsAfterInflating) {
        t.failure = TransferAbort::TooLarge;
        return 0;
    }
    return len;
}

// Milliseconds the current phase may still last; negative when its wait is over.
int64_t Remaining(const Transfer& t, TransferAbort& which) {
    int64_t limit = 0;
    switch (t.phase) {
        case Phase::Connecting:
            limit = t.req->stepWaitMs;
            which = TransferAbort::ConnectWait;
            break;
        case Phase::AwaitHeaders:
            limit = t.req->stepWaitMs;
            which = TransferAbort::HeaderWait;
            break;
        case Phase::Headers:
            limit = t.req->stepWaitMs;
            which = TransferAbort::HeaderStall;
            break;
        case Phase::Body:
            limit = t.req->readWaitMs;
            which = TransferAbort::BodyStall;
            break;
    }
    limit = std::max<int64_t>(limit, 1);
    const auto spent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Now() - t.phaseStart).count();
    return limit - spent;
}

struct SList {
    curl_slist* list = nullptr;
    SList() = default;
    SList(const SList&) = delete;
    SList& operator=(const SList&) = delete;
    ~SList() { curl_slist_free_all(list); }
    bool Append(const std::string& s) {
        curl_slist* n = curl_slist_append(list, s.c_str());
        if (!n) return false;
        list = n;
        return true;
    }
};

void ApplyConnectTo(const std::string& routes);

std::vector<Cookie> JarCookies(CURL* e) {
    std::vector<Cookie> out;
    curl_slist* lines = nullptr;
    if (curl_easy_getinfo(e, CURLINFO_COOKIELIST, &lines) != CURLE_OK) return out;
    for (curl_slist* p = lines; p; p = p->next) {
        Cookie c;
        if (ParseNetscapeLine(p->data, c)) out.push_back(std::move(c));
    }
    curl_slist_free_all(lines);
    return out;
}

// Hands one answer's cookies to the store: what curl's jar kept of its Set-Cookie lines, and the
// cookies the lines deleted.
void ApplyAnswerCookies(CURL* e, const std::string& url, const std::vector<std::string>& lines) {
    std::vector<Cookie> deleted;
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    for (const std::string& line : lines)
        if (std::optional<Cookie> d = CookieDeletedBy(line, url, now)) deleted.push_back(std::move(*d));
    CookieStore::Instance().ApplyAnswer(deleted, JarCookies(e));
}

// Runs the handle's transfer to its end, a stop, the attempt's deadline or a wait that lasted too
// long (t.failure says which). False when the multi interface itself failed.
bool Perform(CURL* e, Transfer& t, CURLcode& result) {
    CURLM* m = TakeMulti();
    if (!m) return false;
    bool ok = true;
    result = CURLE_OK;
    curl_multi_add_handle(m, e);
    Enter(t, Phase::Connecting);
    int running = 1;
    bool done = false;
    while (!done) {
        if (curl_multi_perform(m, &running) != CURLM_OK) {
            ok = false;
            break;
        }
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(m, &queued)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == e) {
                result = msg->data.result;
                done = true;
            }
        }
        if (done || running == 0) break;
        if (t.req->stop.stop_requested()) {
            t.failure = TransferAbort::Stopped;
            break;
        }
        if (Now() >= t.deadline) {
            t.failure = TransferAbort::Deadline;
            break;
        }
        TransferAbort which = TransferAbort::None;
        const int64_t left = Remaining(t, which);
        if (left <= 0) {
            t.failure = which;
            break;
        }
        curl_multi_poll(m, nullptr, 0, static_cast<int>(std::min<int64_t>(left, 100)), nullptr);
    }
    curl_multi_remove_handle(m, e);  // an unfinished transfer closes its connection here
    ReturnMulti(m);
    return ok;
}

// Redirects one fetch follows at most.
constexpr int kMaxRedirects = 20;

}  // namespace

std::string WireUrl(TextView url) {
    const std::string utf8 = ToUtf8(url);
    size_t start = utf8.find("://");
    start = start == std::string::npos ? 0 : utf8.find_first_of("/?#", start + 3);
    if (start == std::string::npos) start = utf8.size();
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size() + 16);
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const bool encode = i >= start ? (c <= 0x20 || c >= 0x7F) : false;
        if (encode) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

void URLSource2Init() {
    std::call_once(g_initOnce, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        g_share = curl_share_init();
        if (g_share) {
            curl_share_setopt(g_share, CURLSHOPT_LOCKFUNC, ShareLock);
            curl_share_setopt(g_share, CURLSHOPT_UNLOCKFUNC, ShareUnlock);
            curl_share_setopt(g_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        }
        if (const char* env = std::getenv("QUILLMOSS_CONNECT_TO"); env && *env) ApplyConnectTo(env);
    });
}

void SetConnectTo(const std::string& routes) {
    URLSource2Init();  // so the environment's routes, read at init, never replace these
    ApplyConnectTo(routes);
}

namespace {
void ApplyConnectTo(const std::string& routes) {
    std::vector<std::string> entries;
    std::string_view s = routes;
    while (!s.empty()) {
        const size_t comma = s.find(',');
        std::string_view item = s.substr(0, comma);
        s = comma == std::string_view::npos ? std::string_view{} : s.substr(comma + 1);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
        if (!item.empty()) entries.emplace_back(item);
    }
    // A single "HOST:PORT" (or "[v6]:PORT") sends every connection there.
    if (entries.size() == 1) {
        const std::string& e = entries.front();
        const bool bracketed = !e.empty() && e.front() == '[';
        const size_t colons = static_cast<size_t>(std::count(e.begin(), e.end(), ':'));
        if ((!bracketed && colons == 1) || (bracketed && e.find("]:") != std::string::npos &&
                                            e.find(':', e.find("]:") + 2) == std::string::npos))
            entries.front() = "::" + e;
    }
    std::lock_guard lock(g_connectToMutex);
    g_connectTo = std::move(entries);
    Trace("connect-to: %zu route(s)\n", g_connectTo.size());
}
}  // namespace

namespace {

// A body sent compressed is saved as the picture it encodes, inflated piece by piece into the
// temporary file; the size limits apply to the inflated bytes and inflating stops at the maximum.
// One that does not inflate, or inflates to nothing, is a failed fetch, never a file of
// compressed bytes under the picture's name.
bool SaveInflated(const ST_URLREQUEST& req, ST_URLRESPONSE& resp, uint64_t minBytes, uint64_t maxBytes) {
    const std::unique_ptr<AtomicFileWriter> out = PictureFile(req);
    AtomicFileWriter& file = *out;
    if (!file.Open()) return FailWrite(resp, errno);
    int writeError = 0;
    uint64_t produced = 0;
    // Bounded also when no maximum is set: by a ratio to the compressed size and a ceiling.
    const uint64_t bound = InflatedPictureBound(resp.body.size());
    const bool userLimit = maxBytes != 0 && maxBytes <= bound;
    const InflateEnd end = InflateGzipTo(
        resp.body, userLimit ? maxBytes : bound,
        [&](std::string_view piece) {
            if (file.Write(piece)) return true;
            writeError = errno;
            return false;
        },
        produced);
    switch (end) {
        case InflateEnd::Complete:
            break;
        case InflateEnd::TooLarge:
            Trace("fetch refused: inflates beyond %llu bytes, nothing saved\n",
                  static_cast<unsigned long long>(userLimit ? maxBytes : bound));
            if (userLimit) return Fail(resp, FailureKind::SizeLimit, "inflated body larger than the limit");
            return Fail(resp, FailureKind::SizeLimit,
                        "compressed body inflates beyond " + std::to_string(bound >> 20) + " MiB (" +
                            std::to_string(resp.body.size()) + " bytes compressed)");
        case InflateEnd::SinkFailed:
            return FailWrite(resp, writeError);
        case InflateEnd::Damaged:
            Trace("fetch refused: compressed body does not inflate, nothing saved\n");
            return Fail(resp, FailureKind::Connection, "compressed body does not inflate");
    }
    if (produced == 0) {
        Trace("fetch refused: empty body, nothing saved\n");
        return Fail(resp, FailureKind::Connection, "empty answer");
    }
    if (produced < minBytes) {
        Trace("fetch refused: inflates below the minimum, nothing saved\n");
        return Fail(resp, FailureKind::SizeLimit, "inflated body smaller than the limit");
    }
    if (!CommitPicture(file, resp)) {
        Trace("fetch failed: cannot write %s\n", ToUtf8(req.savePath).c_str());
        return FailWrite(resp, errno);
    }
    return true;
}

// A picture address that answered a text page: nothing is saved; the page's first bytes go to the
// trace (escaped there), the reason names its type.
bool FailTextPage(ST_URLRESPONSE& resp, const std::string& type) {
    Trace("fetch refused: a %s answer, not a picture, nothing saved: %.*s\n", type.c_str(),
          static_cast<int>(std::min<size_t>(resp.body.size(), 200)), resp.body.data());
    return Fail(resp, FailureKind::NotAPicture, "the answer is " + type + ", not a picture");
}


void ResetResponse(ST_URLRESPONSE& resp) {
    resp.body.clear();
    resp.gzip = false;
    resp.status = 0;
    resp.bodySize = 0;
    resp.savedBytes = 0;
    resp.sha256.clear();
    resp.failure = FetchFailure();
    resp.resumedFrom = 0;
    resp.continued = false;
}

// The limits and deadline of one fetch, the request's header lines, and a resumable save's part
// file with the Range it asks for.
void PrepareTransfer(Transfer& t, ST_URLREQUEST& req, ST_URLRESPONSE& resp, const std::string& url, SList& headers) {
    t.req = &req;
    t.resp = &resp;
    t.minBytes = static_cast<uint64_t>(req.minKB) * 1024;
    t.maxBytes = static_cast<uint64_t>(req.maxKB) * 1024;
    if (req.attemptDeadlineMs > 0)
        t.deadline = Now() + std::chrono::milliseconds(req.attemptDeadlineMs);
    else if (req.savePath.empty())
        t.deadline = Now() + std::chrono::milliseconds(TextAnswerDeadlineMs(req.readWaitMs));

    const std::string extraUtf8 = ToUtf8(req.headers);
    std::string_view extra = extraUtf8;
    while (!extra.empty()) {
        const size_t eol = extra.find('\n');
        std::string_view line = extra.substr(0, eol);
        extra = eol == std::string_view::npos ? std::string_view{} : extra.substr(eol + 1);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) headers.Append(std::string(line));
    }
    if (req.resumable && !req.savePath.empty()) {
        t.part = req.saveFolder ? std::make_unique<PartialFile>(req.saveFolder, req.saveName)
                                : std::make_unique<PartialFile>(PathFromText(req.savePath));
        t.resumeFrom = t.part->Resumable(t.validator);
        if (t.resumeFrom > 0) {
            headers.Append("Range: bytes=" + std::to_string(t.resumeFrom) + "-");
            headers.Append("If-Range: " + t.validator);
            resp.resumedFrom = t.resumeFrom;
            Trace("resume\t%s\tfrom %llu\n", url.c_str(), static_cast<unsigned long long>(t.resumeFrom));
        }
    }
}

// The transfer's options: the address, the protocols, the wire's limits, the header lines, the
// routes to the simulator, the request's body and verb, and the callbacks into `t`.
void SetOptions(CURL* e, Transfer& t, const ST_URLREQUEST& req, const std::string& url, const SList& headers,
                const SList& routes, bool routed) {
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Redirects are followed by FetchOnce itself, so every hop gets its own host's cookies.
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max<int32_t>(req.stepWaitMs, 1)));
    if (headers.list) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.list);
    if (routes.list) curl_easy_setopt(e, CURLOPT_CONNECT_TO, routes.list);
    if (routed || IsLoopbackUrl(url)) curl_easy_setopt(e, CURLOPT_PROXY, "");
    if (g_share) curl_easy_setopt(e, CURLOPT_SHARE, g_share);
    if (!req.body.empty()) {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(req.body.size()));
        curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, req.body.c_str());
    }
    if (req.verb == u"HEAD")
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    else if (req.verb != u"GET" && !req.verb.empty())
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, ToUtf8(req.verb).c_str());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnPrereq);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);

    // curl's cookie engine only parses what each answer sets (its jar starts empty on every hop);
    // the cookies a request carries come from the store, for the address of that very hop.
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
}

// Performs the request and follows its redirects, each hop with the cookies of its own address;
// false when a hop failed or a redirect leads nowhere it may go.
bool PerformHops(CURL* e, Transfer& t, const ST_URLREQUEST& req, ST_URLRESPONSE& resp, const std::string& url,
                 CURLcode& result) {
    std::string hop = url;
    for (int hops = 0;; ++hops) {
        const std::string cookie = CookieStore::Instance().CookieHeaderFor(hop);
        curl_easy_setopt(e, CURLOPT_COOKIE, cookie.empty() ? nullptr : cookie.c_str());
        const bool ok = Perform(e, t, result);
        if (!t.setCookies.empty()) {
            ApplyAnswerCookies(e, hop, t.setCookies);
            t.setCookies.clear();
        }
        if (!ok || result != CURLE_OK || t.failure != TransferAbort::None || !t.redirect) return ok;
        char* next = nullptr;
        if (curl_easy_getinfo(e, CURLINFO_REDIRECT_URL, &next) != CURLE_OK || !next || !IsHttpUrl(next)) {
            Fail(resp, FailureKind::Connection, "redirected to an address that is not http");
            return false;
        }
        if (hops >= kMaxRedirects) {
            Fail(resp, FailureKind::Connection, "too many redirects");
            return false;
        }
        hop = next;
        Trace("redirect\t%s\n", hop.c_str());  // the trace escapes what the server wrote
        curl_easy_setopt(e, CURLOPT_URL, hop.c_str());
        curl_easy_setopt(e, CURLOPT_COOKIELIST, "ALL");
        if (!req.body.empty()) curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);  // a form is posted once
        t.redirect = false;
    }
}

// Says why a transfer failed, unless the response says it already (a stop).
void NameFailure(ST_URLRESPONSE& resp, const Transfer& t, CURLcode result, const char* curlError,
                 const std::string& url) {
    Trace("fetch failed\t%s\t%s\n", url.c_str(),
          resp.failure                       ? resp.failure.text.c_str()
          : t.failure != TransferAbort::None ? AbortText(t.failure)
                                             : curl_easy_strerror(result));
    if (resp.failure) {
        // already said (a stop)
    } else if (t.failure == TransferAbort::WriteFailed) {
        FailWrite(resp, t.writeError);
    } else if (t.failure == TransferAbort::NotAPicture) {
        FailTextPage(resp, t.contentType);
    } else if (t.failure != TransferAbort::None)
        Fail(resp, KindOf(t.failure), AbortText(t.failure));
    else if (result == CURLE_OPERATION_TIMEDOUT)
        Fail(resp, FailureKind::Timeout, curlError[0] ? curlError : curl_easy_strerror(result));
    else
        Fail(resp, FailureKind::Connection, curlError[0] ? curlError : curl_easy_strerror(result));
}

// A resumable save whose answer went into the part file: the whole file checked and committed.
bool FinishPart(Transfer& t, ST_URLRESPONSE& resp) {
    resp.bodySize += t.base;
    if (resp.bodySize < t.minBytes || (t.maxBytes != 0 && resp.bodySize > t.maxBytes)) {
        t.part->Discard();
        return Fail(resp, FailureKind::SizeLimit, "outside the size limits");
    }
    if (resp.bodySize == 0) {
        t.part->Discard();
        return Fail(resp, FailureKind::Connection, "empty answer");
    }
    if (!t.part->Commit()) {
        const int error = errno;
        t.part->Abandon();
        return Fail(resp, FailureKind::WriteError, std::strerror(error));
    }
    resp.savedBytes = resp.bodySize;
    resp.sha256 = t.part->DigestHex();
    return true;
}

// A complete answer: checked against the size limits, and for a save, put under its name.
bool FinishAnswer(Transfer& t, const ST_URLREQUEST& req, ST_URLRESPONSE& resp) {
    const uint64_t size = resp.bodySize;
    if (!t.limitsAfterInflating && (size < t.minBytes || (t.maxBytes != 0 && size > t.maxBytes))) {
        Trace("fetch refused: %llu bytes outside the limits\n", static_cast<unsigned long long>(size));
        return Fail(resp, FailureKind::SizeLimit, "outside the size limits");
    }
    if (req.savePath.empty()) return true;
    if (resp.status >= 400) {
        Trace("fetch refused: status %ld, nothing saved\n", resp.status);
        return Fail(resp, FailureKind::HttpStatus, std::string(), resp.status);
    }
    if (t.textPage) return FailTextPage(resp, t.contentType);
    if (t.file) {
        // Streamed: the whole body is in the temporary file; put it under its name.
        if (!CommitPicture(*t.file, resp)) {
            Trace("fetch failed: cannot write %s\n", ToUtf8(req.savePath).c_str());
            return FailWrite(resp, errno);
        }
        return true;
    }
    if (resp.gzip) return SaveInflated(req, resp, t.minBytes, t.maxBytes);
    const std::string& picture = resp.body;
    // An empty file is never a picture: nothing is written, and an old file keeps its content.
    if (picture.empty()) {
        Trace("fetch refused: empty body, nothing saved\n");
        return Fail(resp, FailureKind::Connection, "empty answer");
    }
    // Pictures are written without a flush to the disk: the rename alone keeps a half-written
    // file from ever showing under the picture's name, and a picture can be fetched again.
    const std::unique_ptr<AtomicFileWriter> file = PictureFile(req);
    if (!file->Open() || !file->Write(picture) || !CommitPicture(*file, resp)) {
        Trace("fetch failed: cannot write %s\n", ToUtf8(req.savePath).c_str());
        return FailWrite(resp, errno);
    }
    return true;
}

}  // namespace

bool FetchOnce(ST_URLRESPONSE& resp, ST_URLREQUEST& req, unsigned flags) {
    (void)flags;  // there is no response cache: every fetch goes to the network
    URLSource2Init();
    ResetResponse(resp);

    if (req.stop.stop_requested()) return Fail(resp, FailureKind::Stopped, AbortText(TransferAbort::Stopped));
    const std::string url = WireUrl(req.url);
    Trace("fetch\t%s\n", url.c_str());
    if (!IsHttpUrl(url)) {
        Trace("fetch refused: not an http address\n");
        return Fail(resp, FailureKind::Other, "not an http address");
    }

    CURL* e = curl_easy_init();
    if (!e) return Fail(resp, FailureKind::Other, "cannot start a transfer");
    char curlError[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, curlError);
    Transfer t;
    SList headers, routes;
    PrepareTransfer(t, req, resp, url, headers);
    bool routed = false;
    {
        std::lock_guard lock(g_connectToMutex);
        for (const std::string& r : g_connectTo) routes.Append(r);
        routed = !g_connectTo.empty();
    }
    SetOptions(e, t, req, url, headers, routes, routed);

    CURLcode result = CURLE_OK;
    bool ok = PerformHops(e, t, req, resp, url, result);
    if (t.failure != TransferAbort::None || result != CURLE_OK) ok = false;
    if (!ok) NameFailure(resp, t, result, curlError, url);
    curl_easy_cleanup(e);

    if (t.restart) {
        // The server would not continue the part (another validator, a range elsewhere): what was
        // written is dropped and the whole file asked for once more.
        Trace("resume refused, starting over\t%s\n", url.c_str());
        t.part->Discard();
        t.part.reset();
        return FetchOnce(resp, req, flags);
    }
    if (!ok) {  // an unfinished temporary file is removed with `t`
        if (t.partActive) t.part->Abandon();  // kept for the next attempt when it can be resumed
        if (!resp.failure) Fail(resp, FailureKind::Connection, "transfer failed");
        return false;
    }
    if (t.partActive) return FinishPart(t, resp);
    return FinishAnswer(t, req, resp);
}

bool FetchUrl(ST_URLREQUEST& req, ST_URLRESPONSE& resp, unsigned flags) {
    if (req.attempts == 0) return false;
    for (unsigned attempt = 1;; ++attempt) {
        if (FetchOnce(resp, req, flags) && resp.bodySize > 0) return true;
        if (!resp.failure) {
            // The answer arrived but was empty: an error status says more than "empty".
            if (resp.status >= 400)
                resp.failure = FetchFailure{FailureKind::HttpStatus, resp.status, {}};
            else
                resp.failure = FetchFailure{FailureKind::Connection, 0, "empty answer"};
        }
        if (resp.failure.kind == FailureKind::Stopped) return false;
        Clock& clock = req.clock ? *req.clock : SystemClock();
        if (!clock.SleepFor(std::chrono::seconds(req.pauseSeconds), req.stop)) {
            resp.failure = FetchFailure{FailureKind::Stopped, 0, AbortText(TransferAbort::Stopped)};
            return false;
        }
        if (attempt >= req.attempts) return false;
    }
}

Text GetUrlCookie(TextView url) {
    return FromUtf8(CookieStore::Instance().CookieHeaderFor(ToUtf8(url)));
}

}  // namespace qm
