#pragma once

// The pieces settings pages are made of: sections of rows on a grouped card,
// toggle rows with a switch, and rows that put a label before a control.

#include <string_view>

#include <QAbstractButton>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace platform::ui {

class Card;
class MarkdownLabel;

// An on/off switch; a checkable button, so `toggled` and `clicked` apply.
class Switch : public QAbstractButton {
public:
    explicit Switch(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Title (and an optional wrapping subtitle) with a switch at the trailing
// edge. Children: "title", "subtitle", "toggle".
class ToggleRow : public QWidget {
public:
    explicit ToggleRow(const QString& title, const QString& subtitle = {}, QWidget* parent = nullptr);

    Switch* toggle() const { return toggle_; }
    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }
    void setSubtitle(const QString& subtitle);

private:
    QLabel* title_;
    QLabel* subtitle_;
    Switch* toggle_;
};

// A label at the leading edge and a control at the trailing edge.
// Children: "title" and the control.
class LabeledRow : public QWidget {
public:
    LabeledRow(const QString& title, QWidget* control, QWidget* parent = nullptr);
    QLabel* titleLabel() const { return title_; }
    QWidget* control() const { return control_; }

private:
    QLabel* title_;
    QWidget* control_;
};

// A header, rows on a rounded card separated by dividers, and a footer of
// inline Markdown in a small secondary font. Header and footer are hidden
// while empty. Children: "header", "rows", "footer".
class Section : public QWidget {
public:
    explicit Section(const QString& header = {}, QWidget* parent = nullptr);

    void setHeader(const QString& header);
    void setFooter(std::string_view markdown);
    // Appends `row` (reparented) below the others.
    void addRow(QWidget* row);
    // Removes and deletes every row.
    void clearRows();
    int rowCount() const { return rows_; }

    QLabel* headerLabel() const { return header_; }
    MarkdownLabel* footerLabel() const { return footer_; }
    Card* card() const { return card_; }

private:
    QLabel* header_;
    Card* card_;
    QVBoxLayout* rowsLayout_;
    MarkdownLabel* footer_;
    int rows_ = 0;
};

}  // namespace platform::ui
