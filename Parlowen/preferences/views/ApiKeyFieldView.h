#pragma once

// The block of one API key field (ApiKeyField.h): a header that tells whether
// a key is stored, the connection test's status, and while no key is stored
// (or it is being replaced) the entry row, notes, the key-page link and the
// terminal command. The section that shows it owns the model.

#include <QWidget>

#include "Parlowen/preferences/ApiKeyField.h"
#include "platform/runtime/Observable.h"

class QLabel;
class QLineEdit;
class QProgressBar;

namespace platform::ui {
class BecameActiveSource;
class PushButton;
class SymbolLabel;
class ThemedLabel;
}  // namespace platform::ui

namespace parlowen {

// Children: "headerSymbol", "title", "caption", "testConnection",
// "replaceKey", "remove", "replace" (Groq), "headerError", "testStatus"
// ("testProgress", "testSymbol", "testText"), "entry", "save", "cancel",
// "pasteNote", "saveError", "keyPage", "terminalHint", "terminalCommand".
class ApiKeyFieldView : public QWidget {
public:
    explicit ApiKeyFieldView(ApiKeyField& field, QWidget* parent = nullptr);

    ApiKeyField& field() const { return field_; }
    // Runs the clipboard check each time the application becomes active,
    // while this view exists.
    void checkClipboardWhenActive(platform::ui::BecameActiveSource& source);

    // Shows the model's state now.
    void sync();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void tintLink();

    ApiKeyField& field_;
    platform::ui::SymbolLabel* headerSymbol_;
    QLabel* title_;
    QLabel* caption_;
    platform::ui::PushButton* testButton_;
    platform::ui::PushButton* replaceKeyButton_;
    platform::ui::PushButton* removeButton_;
    platform::ui::PushButton* groqReplaceButton_;
    platform::ui::ThemedLabel* headerError_;
    QWidget* testStatus_;
    QProgressBar* testProgress_;
    platform::ui::SymbolLabel* testSymbol_;
    platform::ui::ThemedLabel* testText_;
    QWidget* entryArea_;
    QLineEdit* entry_;
    platform::ui::PushButton* save_;
    platform::ui::PushButton* cancel_;
    platform::ui::PushButton* link_;
    QLabel* pasteNote_;
    platform::ui::ThemedLabel* saveError_;
    platform::SubscriptionSet subscriptions_;
};

}  // namespace parlowen
