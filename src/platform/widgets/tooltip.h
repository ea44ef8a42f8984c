// Tooltips as the panel shows them: rich text in a cell of a fixed width, so that Qt wraps a
// long text to lines of a comfortable length, where plain text would make one wide line and
// a bare paragraph a narrow column. Newlines of the text start new lines.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

constexpr int kToolTipWidth = 420;

inline QString ToolTipHtml(const QString &text) {
    if (text.isEmpty())
        return QString();
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString &line : lines)
        line = line.toHtmlEscaped();
    return QString("<table width=\"%1\"><tr><td>%2</td></tr></table>")
        .arg(kToolTipWidth)
        .arg(lines.join(QStringLiteral("<br>")));
}

} // namespace platform
