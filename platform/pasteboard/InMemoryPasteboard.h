#pragma once

// Test double of the pasteboard. A test plays "another program" with
// writeAsAnotherClient() and makes an owner that cannot deliver a type with
// failDataFor().

#include <set>

#include "platform/pasteboard/Pasteboard.h"

namespace platform {

class InMemoryPasteboard : public Pasteboard {
public:
    std::int64_t changeCount() const override { return changeCount_; }
    std::size_t itemCount() const override { return items_.size(); }
    std::vector<std::string> types(std::size_t item) const override;
    std::optional<Bytes> data(std::size_t item, std::string_view type) const override;
    std::optional<std::string> string(std::string_view type = pasteboard_type::plainText) const override;

    std::int64_t clearContents() override;
    void writeObjects(const std::vector<PasteboardItem>& items) override;
    void setData(const Bytes& data, std::string_view type) override;

    // Another program takes the pasteboard and leaves `items` there.
    void writeAsAnotherClient(std::vector<PasteboardItem> items);
    void writeStringAsAnotherClient(std::string_view text);
    // From now on data() gives nothing for `type`, though items still declare it.
    void failDataFor(std::string type);

    // What the pasteboard holds, failing types included.
    const std::vector<PasteboardItem>& contents() const { return items_; }

private:
    void takeOverIfNeeded();
    PasteboardItem& firstItem();

    std::vector<PasteboardItem> items_;
    std::set<std::string, std::less<>> failing_;
    std::int64_t changeCount_ = 0;
    bool owned_ = false;  // we cleared, and no other program wrote since
};

}  // namespace platform
