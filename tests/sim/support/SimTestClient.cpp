#include "SimTestClient.h"

#include <iconv.h>
#include <zlib.h>

#include <cstdio>

namespace qm::sim::test {

Reply Fetch(const Simulator& sim, const std::string& host, const std::string& target,
            const std::string& cookies, const httplib::Headers& extra, const std::string& postForm) {
    httplib::Client cli("127.0.0.1", sim.Port());
    cli.set_url_encode(false);
    cli.set_decompress(false);
    cli.set_read_timeout(10, 0);
    httplib::Headers headers = extra;
    headers.emplace("Host", host);
    if (!cookies.empty()) headers.emplace("Cookie", cookies);
    httplib::Result res = postForm.empty()
                              ? cli.Get(target, headers)
                              : cli.Post(target, headers, postForm, "application/x-www-form-urlencoded");
    Reply r;
    if (res) {
        r.status = res->status;
        r.body = res->body;
        r.headers = res->headers;
    }
    return r;
}

Reply FetchUrl(const Simulator& sim, const std::string& url, const std::string& cookies) {
    const std::string rest = url.substr(url.find("://") + 3);
    const size_t slash = rest.find('/');
    return Fetch(sim, rest.substr(0, slash), rest.substr(slash), cookies);
}

std::string AccountValue(const Simulator& sim, const std::string& uin, const std::string& key) {
    for (const auto& a : sim.Scenario().at("accounts")) {
        const std::string u = a.at("uin").is_string() ? a.at("uin").get<std::string>() : a.at("uin").dump();
        if (u == uin) return a.at(key).get<std::string>();
    }
    return "";
}

std::string LoginCookies(const Simulator& sim, const std::string& uin) {
    char o[32];
    std::snprintf(o, sizeof o, "o%010llu", std::stoull(uin));
    return std::string("pt2gguin=") + o + "; uin=" + o + "; skey=" + AccountValue(sim, uin, "skey") +
           "; p_uin=" + o + "; p_skey=" + AccountValue(sim, uin, "p_skey");
}

size_t Count(const std::string& text, const std::string& marker) {
    size_t n = 0;
    for (size_t pos = text.find(marker); pos != std::string::npos;
         pos = text.find(marker, pos + marker.size()))
        ++n;
    return n;
}

std::string Between(const std::string& text, const std::string& start, const std::string& end, size_t from) {
    const size_t a = text.find(start, from);
    if (a == std::string::npos) return "";
    const size_t b = text.find(end, a + start.size());
    if (b == std::string::npos) return "";
    return text.substr(a + start.size(), b - a - start.size());
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
    return text;
}

std::string Gunzip(const std::string& data) {
    z_stream zs{};
    if (inflateInit2(&zs, 47) != Z_OK) return "<inflate init failed>";
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char buf[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof buf - zs.avail_out);
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? out : "<inflate failed>";
}

std::string ToGbk(const std::string& utf8) {
    iconv_t cd = iconv_open("CP936", "UTF-8");
    std::string in = utf8, out(utf8.size() * 2 + 8, '\0');
    char* ip = in.data();
    char* op = out.data();
    size_t il = in.size(), ol = out.size();
    iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    out.resize(out.size() - ol);
    return out;
}

}  // namespace qm::sim::test
