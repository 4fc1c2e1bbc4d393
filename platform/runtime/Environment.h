#pragma once

#include <map>
#include <optional>
#include <string>

namespace platform {

// The process environment as a value. Code that reads environment variables
// takes one of these, so tests pass their own instead of calling setenv.
class Environment {
public:
    Environment() = default;
    explicit Environment(std::map<std::string, std::string> vars) : vars_(std::move(vars)) {}

    // A snapshot of the running process's environment.
    static Environment fromProcess();

    std::optional<std::string> get(const std::string& name) const;
    // The value, or `fallback` when the variable is absent.
    std::string value(const std::string& name, const std::string& fallback = {}) const;
    bool has(const std::string& name) const { return vars_.count(name) != 0; }

    Environment with(const std::string& name, std::string value) const;
    Environment without(const std::string& name) const;
    const std::map<std::string, std::string>& all() const { return vars_; }

private:
    std::map<std::string, std::string> vars_;
};

}  // namespace platform
