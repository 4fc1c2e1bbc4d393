#pragma once

// The entries of a menu picker and how they map to the bound value, kept
// apart from the widget so the mapping can be tested without Qt.

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform::ui {

template <class T>
struct PickerEntry {
    enum class Kind { option, header, separator };

    Kind kind = Kind::option;
    std::string label;
    // The value choosing this entry writes. Empty on an option means the
    // "absent" entry (none, system default), which stands for no value.
    std::optional<T> tag;
    bool enabled = true;

    static PickerEntry option(std::string label, T tag, bool enabled = true) {
        return {Kind::option, std::move(label), std::move(tag), enabled};
    }
    static PickerEntry absent(std::string label) { return {Kind::option, std::move(label), std::nullopt, true}; }
    // A group heading; not choosable.
    static PickerEntry header(std::string label) { return {Kind::header, std::move(label), std::nullopt, false}; }
    static PickerEntry separator() { return {Kind::separator, {}, std::nullopt, false}; }

    bool choosable() const { return kind == Kind::option && enabled; }
    friend bool operator==(const PickerEntry&, const PickerEntry&) = default;
};

template <class T>
class PickerModel {
public:
    PickerModel() = default;
    explicit PickerModel(std::vector<PickerEntry<T>> entries) : entries_(std::move(entries)) {}

    const std::vector<PickerEntry<T>>& entries() const { return entries_; }
    void setEntries(std::vector<PickerEntry<T>> entries) { entries_ = std::move(entries); }

    // The first option whose tag equals `value` (an empty value selects the
    // absent entry); nothing when no option carries it.
    std::optional<std::size_t> indexOf(const std::optional<T>& value) const {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const auto& e = entries_[i];
            if (e.kind == PickerEntry<T>::Kind::option && e.tag == value) return i;
        }
        return std::nullopt;
    }

    // The value that choosing entry `index` writes; nothing for headings,
    // separators, disabled entries and indexes out of range.
    std::optional<std::optional<T>> choice(std::size_t index) const {
        if (index >= entries_.size() || !entries_[index].choosable()) return std::nullopt;
        return entries_[index].tag;
    }

private:
    std::vector<PickerEntry<T>> entries_;
};

}  // namespace platform::ui
