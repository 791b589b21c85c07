#pragma once

#include <QString>

// The chat log files in the folder chatdat beside the executable: one per conversation
// partner, named after the partner's entry, and the chat-room transcript. Their contents are
// GBK text; the folder is created when it is missing.
namespace ChatLog {

// appDir + "/chatdat/" + the entry as a file name + ".txt". Path separators and control
// characters in the entry become "_", and an overlong entry is cut, so that a nickname chosen
// by a peer can neither place the file outside chatdat nor make it unwritable. Any other
// name ([3]小明, 陌生人) is used as it stands.
QString fileName(const QString &appDir, const QString &entry);
// appDir + "/chatdat/聊天室.txt".
QString transcriptFileName(const QString &appDir);

// The file's text, where a lone CR, a lone LF and CR LF each become CR LF. Throws Exception
// "Cannot open file <path>" when it cannot be read.
QString read(const QString &path);
// Replaces the file with text in GBK, creating the folder when it is missing. Throws Exception
// "Cannot create file <path>" when that fails; the previous file is then kept as it was.
void write(const QString &path, const QString &text);
// Adds text in GBK at the end of the file, on a line of its own: after CR LF when the file's
// last byte is neither CR nor LF. Creates the file and its folder when they are missing (an
// empty text then only creates them). The bytes already in the file are never rewritten, and
// an exclusive lock on the file (flock) keeps the appends of other windows and other running
// copies whole and in order. Throws Exception "Cannot create file <path>" when that fails;
// the file is then cut back to the length it had, so a later attempt adds the text once.
void append(const QString &path, const QString &text);

} // namespace ChatLog
