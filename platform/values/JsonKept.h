#pragma once

// Stored JSON lists and tables whose entries are read one by one: the text of
// each entry as written, and what a reader could not read, kept so that the
// next write puts it back unchanged (byte for byte) where it was. Entries
// written by a newer version thus survive this version's edits.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/runtime/Error.h"

namespace platform {

// The text of each element of a JSON array, as written (blanks around it left
// out). Fails unless `text` is one JSON array.
Result<std::vector<std::string_view>> jsonArrayElementTexts(std::string_view text);

struct JsonMemberText {
    std::string key;             // decoded
    std::string_view keyText;    // as written, with its quotes
    std::string_view valueText;  // as written
};
// The members of a JSON object, in the order written. Fails unless `text` is
// one JSON object.
Result<std::vector<JsonMemberText>> jsonObjectMemberTexts(std::string_view text);

class KeptJsonEntries {
public:
    // Arrays: one call per element, in order.
    void elementRead();
    void keepElement(std::string_view text);
    // Objects: a member that could not be read.
    void keepMember(const JsonMemberText& member);

    // Nothing kept.
    bool empty() const { return kept_ == 0; }
    std::size_t size() const { return kept_; }

    // The array text: `elements` (compact JSON texts of what the list holds
    // now) take the places of the elements that were read, in order; the kept
    // ones stay where they were; more go at the end, fewer leave places out.
    std::string writeArray(const std::vector<std::string>& elements) const;
    // The object text: `members` (key, compact JSON text of the value), and the
    // kept members, in bytewise key order (the order of a std::map). A kept
    // member whose key is among `members` gives way to it.
    std::string writeObject(const std::vector<std::pair<std::string, std::string>>& members) const;

private:
    struct Read {};
    struct Member {
        std::string key;
        std::string keyText;
        std::string valueText;
    };
    std::vector<std::variant<Read, std::string>> elements_;  // text: kept
    std::vector<Member> members_;
    std::size_t kept_ = 0;
};

}  // namespace platform
