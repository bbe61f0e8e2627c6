#include "app/cli/Args.h"

namespace qm::cli {

bool ParseArgs(const std::vector<std::string>& words, const std::set<std::string>& valueOptions,
               const std::set<std::string>& flagOptions, Args& out, std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        // "-1" is a value (a negative number), not an option.
        const bool negativeNumber = w.size() >= 2 && w[0] == '-' && w[1] >= '0' && w[1] <= '9';
        if (optionsEnded || w.size() < 2 || w[0] != '-' || negativeNumber) {
            out.positional.push_back(w);
            continue;
        }
        if (w == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = w;
        std::string value;
        bool inlineValue = false;
        const std::size_t eq = w.find('=');
        if (w.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = w.substr(0, eq);
            value = w.substr(eq + 1);
            inlineValue = true;
        }
        if (valueOptions.count(name)) {
            if (!inlineValue) {
                if (i + 1 >= words.size()) {
                    error = "option " + name + " needs a value";
                    return false;
                }
                value = words[++i];
            }
            out.values[name] = value;
        } else if (flagOptions.count(name) && !inlineValue) {
            out.flags.insert(name);
        } else {
            error = "unknown option " + w;
            return false;
        }
    }
    return true;
}

}  // namespace qm::cli
