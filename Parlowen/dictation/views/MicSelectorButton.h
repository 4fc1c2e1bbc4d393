#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QWidget>

#include "Parlowen/dictation/MicSelector.h"
#include "platform/ui/Color.h"

class QHBoxLayout;
class QLabel;

namespace platform::ui {
class Card;
class MenuPicker;
}  // namespace platform::ui

namespace parlowen {

// The microphone picker: a menu of "System default", the connected input
// devices and a saved device that is not connected. It keeps no choice of
// its own: the owner passes the fields in (again, whenever one changes) and
// receives the user's choice through `onSelect`. Without devices it is not
// shown at all.
//
// Children: "symbol", "deviceName" (button style only), "menu".
class MicSelectorButton : public QWidget {
public:
    using Style = MicSelectorStyle;
    using Device = AudioDeviceCatalog::Device;

    struct Fields {
        std::optional<std::string> currentDeviceUID;
        std::string currentDeviceName;
        bool currentIsBluetooth = false;
        std::vector<Device> availableDevices;
        platform::ui::Color accent;
        std::function<void(const std::optional<std::string>&)> onSelect;
        Style style = Style::chip;
    };

    explicit MicSelectorButton(Fields fields, QWidget* parent = nullptr);

    void setFields(Fields fields);
    const Fields& fields() const { return fields_; }

    static std::string deviceLabel(const Device& device) { return MicSelector::deviceLabel(device); }

    platform::ui::MenuPicker* menu() const { return menu_; }
    // The device name as drawn (elided in the middle when it does not fit).
    QString shownDeviceName() const;
    const std::vector<MicSelectorRow>& rows() const { return rows_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void rebuild();
    void drawSymbol();
    void applyTint();
    platform::ui::Color readableAccent() const;

    Fields fields_;
    std::vector<MicSelectorRow> rows_;
    QHBoxLayout* row_;
    QLabel* symbol_;
    QLabel* name_;
    platform::ui::MenuPicker* menu_;
};

}  // namespace parlowen
