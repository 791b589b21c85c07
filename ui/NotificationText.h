#pragma once

#include <QString>

// The text of a desktop notification, made from what a peer sent: the body is an excerpt of
// the message, and whatever a notification server could take for markup goes in escaped when
// the server interprets markup, so that a peer's text always shows as written.
namespace NotificationText {

// Characters of a message the body shows.
constexpr int ExcerptLength = 60;

// The first `length` characters of text as plain lines: CR LF and lone CRs become line
// breaks, other control characters spaces; "…" follows when text was longer. A character
// made of two UTF-16 units is never split.
QString excerpt(const QString &text, int length = ExcerptLength);

// text with "&", "<" and ">" as the entities "&amp;", "&lt;" and "&gt;".
QString escapeMarkup(const QString &text);

} // namespace NotificationText
