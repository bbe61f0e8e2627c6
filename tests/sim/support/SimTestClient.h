// Helpers for the simulator tests: a scenario-started simulator and plain requests with a Host header.
#pragma once

#include <httplib.h>

#include <string>

#include "sim/Simulator.h"

namespace qm::sim::test {

struct Reply {
    int status = -1;  // -1: the connection failed or the answer was cut short
    std::string body;
    httplib::Headers headers;
    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

Reply Fetch(const Simulator& sim, const std::string& host, const std::string& target,
            const std::string& cookies = "", const httplib::Headers& extra = {},
            const std::string& postForm = "");
// Fetches an absolute address "http://host/target".
Reply FetchUrl(const Simulator& sim, const std::string& url, const std::string& cookies = "");

// The login cookies of a scenario account, as a browser would send them to a QZone host.
std::string LoginCookies(const Simulator& sim, const std::string& uin);
std::string AccountValue(const Simulator& sim, const std::string& uin, const std::string& key);

size_t Count(const std::string& text, const std::string& marker);
// The text between `start` and the next `end` after it, searched from `from`; empty when absent.
std::string Between(const std::string& text, const std::string& start, const std::string& end,
                    size_t from = 0);
std::string ReplaceAll(std::string text, const std::string& from, const std::string& to);
std::string Gunzip(const std::string& data);
// UTF-8 to GBK with glibc's converter, an oracle independent of the simulator's ICU one.
std::string ToGbk(const std::string& utf8);

}  // namespace qm::sim::test
