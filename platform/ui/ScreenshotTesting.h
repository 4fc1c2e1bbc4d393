#pragma once

// Screenshot checks for widget tests: a widget is laid out, grabbed
// offscreen and saved as a PNG for people to look at; the check asserts
// that the picture is not empty or blank and that the named children are
// shown with a non-zero size.

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
// more than one colour, and every name in `names` (paths as in Finders.h)
// finds a child shown with a non-zero size.
void expectScreenshot(QWidget* widget, const std::filesystem::path& file, const std::vector<std::string>& names);

// Lets pending layout requests, posted events and deferred deletes run.
void settle();

}  // namespace platform::ui::testing
