#pragma once

#include <optional>
#include <vector>

#include <QComboBox>

namespace platform::ui {

// A pop-up menu of choices with optional group headings and separators.
// Every entry is one item of the menu, so entry indexes and item indexes
// agree. Only a choice the user makes emits `entryChosen`; setting the
// current entry from code emits nothing. Bind it to a store property with
// bindPicker (Bindings.h), which maps entries to values.
class MenuPicker : public QComboBox {
    Q_OBJECT
public:
    struct Item {
        enum class Kind { option, header, separator };
        QString label;
        Kind kind = Kind::option;
        bool enabled = true;
    };

    explicit MenuPicker(QWidget* parent = nullptr);

    void setItems(const std::vector<Item>& items);
    // Selects entry `index`; none shows an empty selection.
    void setCurrentEntry(std::optional<int> index);
    std::optional<int> currentEntry() const;
    // Chooses entry `index` as a user would (tests and keyboard shortcuts);
    // headings, separators and disabled entries are ignored.
    void choose(int index);

signals:
    void entryChosen(int index);
};

}  // namespace platform::ui
