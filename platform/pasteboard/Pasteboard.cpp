#include "platform/pasteboard/Pasteboard.h"

#include <algorithm>

namespace platform {

const Bytes* PasteboardItem::data(std::string_view type) const {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const PasteboardEntry& e) { return e.type == type; });
    return it == entries.end() ? nullptr : &it->data;
}

void PasteboardItem::set(std::string_view type, Bytes data) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const PasteboardEntry& e) { return e.type == type; });
    if (it != entries.end())
        it->data = std::move(data);
    else
        entries.push_back({std::string(type), std::move(data)});
}

std::vector<std::string> PasteboardItem::types() const {
    std::vector<std::string> out;
    out.reserve(entries.size());
    for (const auto& e : entries) out.push_back(e.type);
    return out;
}

}  // namespace platform
