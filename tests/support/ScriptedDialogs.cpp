#include "tests/support/ScriptedDialogs.h"

using namespace Qt::Literals::StringLiterals;

QString ScriptedDialogs::openFileName(const QString &filter)
{
    record(u"open"_s, filter);
    return takeFirst(openAnswers).value_or(QString());
}

QString ScriptedDialogs::saveFileName(const QString &suggestedName)
{
    record(u"save"_s, suggestedName);
    return takeFirst(saveAnswers).value_or(QString());
}

QStringList ScriptedDialogs::openFileNames()
{
    record(u"openmany"_s, QString());
    return takeFirst(openManyAnswers).value_or(QStringList());
}

QString ScriptedDialogs::existingFolder(const QString &start)
{
    record(u"folder"_s, start);
    return takeFirst(folderAnswers).value_or(QString());
}

QFont ScriptedDialogs::chooseFont(const QFont &initial, bool *accepted)
{
    record(u"font"_s, initial.family());
    const std::optional<QFont> answer = takeFirst(fontAnswers).value_or(std::nullopt);
    if (accepted)
        *accepted = answer.has_value();
    return answer.value_or(initial);
}
