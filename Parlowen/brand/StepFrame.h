#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QWidget>

class QLabel;
class QScrollArea;

namespace platform::ui {
class PushButton;
class Divider;
}  // namespace platform::ui

namespace parlowen {

struct StepFrameFields {
    std::string title;
    std::string subtitle;
    std::string primaryLabel;
    std::function<void()> primaryAction;
    bool primaryDisabled = false;
    std::optional<std::string> secondaryLabel;
    std::function<void()> secondaryAction;  // empty: none
    QWidget* content = nullptr;             // taken over by the frame
};

// The frame of a walkthrough page: a heading and a paragraph, the page's
// content in a scrolling area that takes the height left over, and a footer
// with a divider, an optional secondary button at the leading edge and the
// primary button at the trailing edge (the window's Return key presses it).
// The secondary button exists only with both its label and its action.
// Only the middle scrolls. The frame adds no margins or background.
// Children: "title", "subtitle", "scrollArea", "content", "divider",
// "secondaryButton", "primaryButton".
class StepFrame : public QWidget {
public:
    explicit StepFrame(StepFrameFields fields, QWidget* parent = nullptr);

    // What a page changes while it is shown, without a new frame.
    void setPrimaryDisabled(bool disabled);
    bool primaryDisabled() const { return fields_.primaryDisabled; }
    void setPrimaryLabel(const std::string& label);

    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }
    QScrollArea* scrollArea() const { return scroll_; }
    platform::ui::PushButton* primaryButton() const { return primary_; }
    platform::ui::PushButton* secondaryButton() const { return secondary_; }
    QWidget* content() const { return fields_.content; }

private:
    StepFrameFields fields_;
    QLabel* title_;
    QLabel* subtitle_;
    QScrollArea* scroll_;
    platform::ui::PushButton* primary_;
    platform::ui::PushButton* secondary_ = nullptr;
};

}  // namespace parlowen
