#include "platform/statusitem/StatusItem.h"

namespace platform {

namespace {
template <class Menu, class Item>
Item* findIn(Menu& menu, const std::string& id) {
    for (auto& item : menu) {
        if (item.id == id) return &item;
        if (auto* inner = findIn<Menu, Item>(item.submenu, id)) return inner;
    }
    return nullptr;
}
}  // namespace

const StatusMenuItem* findStatusMenuItem(const StatusMenu& menu, const std::string& id) {
    return findIn<const StatusMenu, const StatusMenuItem>(menu, id);
}

StatusMenuItem* findStatusMenuItem(StatusMenu& menu, const std::string& id) {
    return findIn<StatusMenu, StatusMenuItem>(menu, id);
}

bool RecordingStatusItem::choose(const std::string& id) {
    const StatusMenuItem* item = findStatusMenuItem(menu_, id);
    if (!item || item->hidden || !item->enabled || item->action.empty() || !onAction_) return false;
    const StatusMenuItem chosen = *item;  // the handler may replace the menu
    onAction_(chosen);
    return true;
}

}  // namespace platform
