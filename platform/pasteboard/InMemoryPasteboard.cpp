#include "platform/pasteboard/InMemoryPasteboard.h"

namespace platform {

std::vector<std::string> InMemoryPasteboard::types(std::size_t item) const {
    if (item >= items_.size()) return {};
    return items_[item].types();
}

std::optional<Bytes> InMemoryPasteboard::data(std::size_t item, std::string_view type) const {
    if (item >= items_.size() || failing_.contains(type)) return std::nullopt;
    const Bytes* d = items_[item].data(type);
    if (!d) return std::nullopt;
    return *d;
}

std::optional<std::string> InMemoryPasteboard::string(std::string_view type) const {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!items_[i].data(type)) continue;
        auto d = data(i, type);
        if (!d) return std::nullopt;
        return std::string(d->begin(), d->end());
    }
    return std::nullopt;
}

std::int64_t InMemoryPasteboard::clearContents() {
    items_.clear();
    owned_ = true;
    return ++changeCount_;
}

void InMemoryPasteboard::takeOverIfNeeded() {
    if (!owned_) clearContents();
}

PasteboardItem& InMemoryPasteboard::firstItem() {
    if (items_.empty()) items_.emplace_back();
    return items_.front();
}

void InMemoryPasteboard::writeObjects(const std::vector<PasteboardItem>& items) {
    // An item without data cannot be put on a pasteboard.
    for (const auto& item : items) {
        if (item.entries.empty()) continue;
        takeOverIfNeeded();
        items_.push_back(item);
    }
}

void InMemoryPasteboard::setData(const Bytes& data, std::string_view type) {
    takeOverIfNeeded();
    firstItem().set(type, data);
}

void InMemoryPasteboard::writeAsAnotherClient(std::vector<PasteboardItem> items) {
    items_ = std::move(items);
    owned_ = false;
    ++changeCount_;
}

void InMemoryPasteboard::writeStringAsAnotherClient(std::string_view text) {
    PasteboardItem item;
    item.set(pasteboard_type::plainText, toBytes(text));
    writeAsAnotherClient({std::move(item)});
}

void InMemoryPasteboard::failDataFor(std::string type) { failing_.insert(std::move(type)); }

}  // namespace platform
