#pragma once

// The brand's five fonts, all from the system font; each made once, on first
// use (a Qt application object must exist).

#include <QFont>

namespace parlowen {

const QFont& brandTitle();       // title text style, rounded, semibold
const QFont& brandBody();        // body text style, default design and weight
const QFont& brandCaption();     // caption text style, rounded
const QFont& brandCallout();     // callout text style, rounded, medium
const QFont& brandSerifTitle();  // fixed 22 points, semibold, serif

}  // namespace parlowen
