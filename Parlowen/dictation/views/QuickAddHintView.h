#pragma once

#include <string>
#include <vector>

#include <QWidget>

class QLabel;
class QLineEdit;
class QVBoxLayout;

namespace platform::ui {
class PushButton;
}

namespace parlowen {

class QuickAddHintModel;

// The quick-add panel's content: a header, the entry field with its Add
// button, the quick-pick words of recent dictations in rows of four, the
// confirmation line and a Cancel button. Return adds the entry (through the
// Add button, the window's default action); Escape is Cancel. Follows the
// model; leaves it only through the model's operations.
//
// Children: "title", "caption", "entryField", "addButton", "recentWords"
// (with "recentWordsLabel" and rows "recentWordRow" of buttons "recentWord"),
// "confirmation" (with "confirmationSymbol" and "confirmationText"),
// "cancelButton".
class QuickAddHintView : public QWidget {
public:
    explicit QuickAddHintView(QuickAddHintModel& model, QWidget* parent = nullptr);

    QuickAddHintModel& model() const { return model_; }
    QLineEdit* entryField() const { return field_; }

    QSize sizeHint() const override { return {460, 280}; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void submit();
    void showRecentWords(const std::vector<std::string>& words);
    void showConfirmation(const std::optional<std::string>& text);
    void focusField();
    // Draws the symbols in the theme's colours.
    void tintSymbols();

    QuickAddHintModel& model_;
    QLineEdit* field_;
    platform::ui::PushButton* addButton_;
    QWidget* recentSection_;
    QVBoxLayout* recentRows_;
    QWidget* confirmation_;
    QLabel* confirmationSymbol_;
    QLabel* confirmationText_;
};

}  // namespace parlowen
