// Command-line words split into positional arguments, options with a value (--kind X or
// --kind=X) and flags (--yes).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace qm::cli {

struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::set<std::string> flags;

    bool Has(const std::string& flag) const { return flags.count(flag) > 0; }
    const std::string* Value(const std::string& name) const {
        auto it = values.find(name);
        return it == values.end() ? nullptr : &it->second;
    }
};

// False with `error` set on an unknown option or a missing value. "--" ends the options.
bool ParseArgs(const std::vector<std::string>& words, const std::set<std::string>& valueOptions,
               const std::set<std::string>& flagOptions, Args& out, std::string& error);

}  // namespace qm::cli
