#include "platform/runtime/Environment.h"

extern char** environ;

namespace platform {

Environment Environment::fromProcess() {
    std::map<std::string, std::string> vars;
    for (char** e = environ; e && *e; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq == std::string::npos) continue;
        vars.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return Environment(std::move(vars));
}

std::optional<std::string> Environment::get(const std::string& name) const {
    auto it = vars_.find(name);
    if (it == vars_.end()) return std::nullopt;
    return it->second;
}

std::string Environment::value(const std::string& name, const std::string& fallback) const {
    auto v = get(name);
    return v ? *v : fallback;
}

Environment Environment::with(const std::string& name, std::string value) const {
    Environment copy = *this;
    copy.vars_[name] = std::move(value);
    return copy;
}

Environment Environment::without(const std::string& name) const {
    Environment copy = *this;
    copy.vars_.erase(name);
    return copy;
}

}  // namespace platform
