#include "platform/ui/TextElision.h"

#include <QFontMetrics>
#include <QStringList>
#include <QTextLayout>

namespace platform::ui {

QString elidedLines(const QString& text, const QFont& font, int width, int maxLines) {
    if (maxLines <= 0 || width <= 0) return {};
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    int cutAt = -1;
    layout.beginLayout();
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            cutAt = line.textStart();
            // Is there more than this last line can hold?
            QTextLine next = layout.createLine();
            if (next.isValid()) {
                next.setLineWidth(width);
            } else {
                lines << text.mid(line.textStart(), line.textLength()).trimmed();
                cutAt = -1;
            }
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    if (cutAt >= 0) {
        // What is left needs more than one line: the last line ends in "…".
        lines << QFontMetrics(font).elidedText(text.mid(cutAt).simplified(), Qt::ElideRight, width);
    }
    return lines.join(QLatin1Char('\n'));
}

}  // namespace platform::ui
