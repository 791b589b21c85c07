#include "fileset/SetPlan.h"

#include "fileset/NameText.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace {

bool wanted(const SetAnswer &answer, quint32 index)
{
    for (const QPair<quint32, quint32> &range : answer.ranges)
        if (index >= range.first && index - range.first < range.second)
            return true;
    return false;
}


} // namespace

QList<SetStrm::Record> planRecords(const OutgoingSet &set, const SetAnswer &answer)
{
    QList<SetStrm::Record> records;
    const QList<ManifestEntry> &entries = set.manifest.entries;
    for (int i = 0; i < entries.size(); ++i) {
        const ManifestEntry &entry = entries[i];
        if (entry.kind != ManifestEntry::Kind::File || !wanted(answer, quint32(i)))
            continue;
        SetStrm::Record record;
        record.index = quint32(i);
        record.path = set.localPaths.value(i);
        record.expectedSize = entry.size;
        const QFileInfo info(record.path);
        if (!info.exists())
            record.skipReason = NameText::encode(u"文件已不存在"_s, set.manifest.encoding);
        else if (info.size() != entry.size || info.lastModified().toMSecsSinceEpoch() != entry.modifiedMs)
            record.skipReason = NameText::encode(u"文件已改变"_s, set.manifest.encoding);
        else if (quint32(i) == answer.resumeIndex && answer.resumeOffset > 0 && answer.resumeOffset <= entry.size
                 && resumeHash(record.path, answer.resumeOffset) == answer.resumeHash)
            record.start = answer.resumeOffset;
        records.append(record);
    }
    return records;
}
