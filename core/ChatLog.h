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

} // namespace ChatLog
