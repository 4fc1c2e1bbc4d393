#include "platform/ui/MenuPicker.h"

#include <QStandardItemModel>

#include "platform/ui/Fonts.h"

namespace platform::ui {

MenuPicker::MenuPicker(QWidget* parent) : QComboBox(parent) {
    setObjectName(QStringLiteral("menuPicker"));
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(this, &QComboBox::activated, this, [this](int index) { choose(index); });
}

void MenuPicker::setItems(const std::vector<Item>& items) {
    const QSignalBlocker block(this);
    clear();
    auto* model = qobject_cast<QStandardItemModel*>(this->model());
    for (const auto& item : items) {
        switch (item.kind) {
            case Item::Kind::separator:
                insertSeparator(count());
                break;
            case Item::Kind::header: {
                addItem(item.label);
                if (auto* it = model ? model->item(count() - 1) : nullptr) {
                    it->setFlags(Qt::NoItemFlags);
                    QFont f = font();
                    f.setWeight(QFont::DemiBold);
                    it->setFont(f);
                }
                break;
            }
            case Item::Kind::option:
                addItem(item.label);
                if (!item.enabled)
                    if (auto* it = model ? model->item(count() - 1) : nullptr)
                        it->setFlags(it->flags() & ~Qt::ItemIsEnabled);
                break;
        }
    }
    setCurrentIndex(-1);
}

void MenuPicker::setCurrentEntry(std::optional<int> index) {
    const QSignalBlocker block(this);
    setCurrentIndex(index && *index < count() ? *index : -1);
}

std::optional<int> MenuPicker::currentEntry() const {
    return currentIndex() < 0 ? std::nullopt : std::optional<int>(currentIndex());
}

void MenuPicker::choose(int index) {
    auto* model = qobject_cast<QStandardItemModel*>(this->model());
    auto* item = model ? model->item(index) : nullptr;
    if (!item || !(item->flags() & Qt::ItemIsEnabled) || !(item->flags() & Qt::ItemIsSelectable)) return;
    {
        const QSignalBlocker block(this);
        setCurrentIndex(index);
    }
    emit entryChosen(index);
}

}  // namespace platform::ui
