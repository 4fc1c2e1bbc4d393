#pragma once

// A gesture as a row of keycaps, optionally between a leading verb and a
// trailing suffix ("Hold ⌥ Right to dictate").

#include <optional>
#include <string>

#include <QColor>
#include <QLabel>
#include <QWidget>

#include "Parlowen/dictation/HotkeyBadge.h"

namespace parlowen {

// One keycap: the label on a rounded, outlined control-coloured pill.
class KeycapPill : public QLabel {
public:
    explicit KeycapPill(const std::string& label, QWidget* parent = nullptr);
};

class HotkeyBadgeView : public QWidget {
public:
    HotkeyBadgeView(HotkeyBadgeTrigger trigger, std::optional<std::string> verb = std::nullopt,
                    std::optional<std::string> suffix = std::nullopt, std::optional<QColor> textColor = std::nullopt,
                    QWidget* parent = nullptr);
};

}  // namespace parlowen
