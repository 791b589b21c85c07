#pragma once

#include <QString>

// A tooltip that shows text exactly as written: Qt takes a tooltip that looks like markup for
// rich text, so the text goes in escaped, in a paragraph that keeps its spaces and lines.
inline QString plainToolTip(const QString &text)
{
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}
