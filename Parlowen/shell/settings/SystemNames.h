#pragma once

#include <optional>
#include <string>

namespace parlowen {

// The logged-in user's full name: the first field of the account's GECOS
// entry; empty when there is none.
std::string systemFullUserName();

// The name the user gave this computer: the pretty host name of
// /etc/machine-info when set, else the host name; nothing when neither exists.
std::optional<std::string> systemComputerName();

}  // namespace parlowen
