#pragma once

// Screenshot checks for widget tests: a widget is laid out, grabbed
// offscreen and saved as a PNG for people to look at; the check asserts
// that the picture is not empty or blank, that the named children are
// shown with a non-zero size, and that every text in it is readable.

#include <filesystem>
#include <string>
#include <vector>

#include <QImage>

class QWidget;

namespace platform::ui::testing {

// Shows `widget` (offscreen), lets layouts settle, grabs it and writes
// `file` (folders created). Returns the picture.
QImage saveScreenshot(QWidget* widget, const std::filesystem::path& file);

// saveScreenshot, then GoogleTest expectations: the picture has a size and
// more than one colour, every name in `names` (paths as in Finders.h)
// finds a child shown with a non-zero size, and expectReadable holds.
void expectScreenshot(QWidget* widget, const std::filesystem::path& file, const std::vector<std::string>& names);

// A text of a grab whose colour does not stand out from its background.
struct ContrastFailure {
    std::string widget;  // object name path from the grabbed root
    std::string text;
    double ratio = 0;
    double required = 0;
    std::string foreground;  // #rrggbb
    std::string background;
};

// Every visible, enabled text of `root` (labels, buttons, fields, pickers)
// measured against the dominant colour of its rectangle in `grab` (a grab
// of `root`): 4.5:1 for text, 3:1 for large text (24 px, or 18.7 px bold).
// Widgets marked with exemptFromContrastCheck (ThemeScope.h), and their
// children, are skipped.
std::vector<ContrastFailure> contrastFailures(QWidget* root, const QImage& grab);
// A GoogleTest failure for each of contrastFailures, naming `file`.
void expectReadable(QWidget* root, const QImage& grab, const std::filesystem::path& file);

// Lets pending layout requests, posted events and deferred deletes run.
void settle();

}  // namespace platform::ui::testing
