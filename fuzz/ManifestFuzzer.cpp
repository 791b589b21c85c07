// Fuzz target: the file-set formats a peer sends: the manifest at the start of a set's stream,
// and the inner bytes of a set's offer and answers. Each input is parsed as all three. Checks:
// what parses writes back to the same bytes; a refused manifest says why in a short line
// without control characters; every path of a manifest that parses keeps the path rules, and
// its folders, made under a fresh folder, are exactly what a walk of that folder lists again.
#include "fileset/Manifest.h"
#include "fileset/SetDatagrams.h"
#include "fileset/SetPlacement.h"
#include "fileset/SetWalk.h"
#include "fuzz/FuzzSupport.h"

#include <QDir>
#include <QSet>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;
using FuzzSupport::require;

namespace {

// Manifests with more entries are only parsed: placing them would slow the run down.
constexpr int MaxPlacedEntries = 64;
constexpr int MaxRefusalChars = 200;

void checkPlacement(const Manifest &manifest)
{
    if (manifest.entries.size() > MaxPlacedEntries)
        return;
    static const QString root = FuzzSupport::scratchFolder() + u"/root"_s;
    QDir(root).removeRecursively();
    require(QDir().mkpath(root), u"cannot make the placement root"_s);
    SetPlacement placement(root, QByteArray(16, '\x01'), manifest);
    QString error;
    require(placement.makeFolders(&error), u"the folders of a manifest that parsed were not made: "_s + error);

    QSet<QString> listed;
    for (const ManifestEntry &e : manifest.entries)
        if (e.isFolder())
            listed.insert(e.path);
    QStringList chosen;
    for (const QString &name : QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        chosen << root + u'/' + name;
    QSet<QString> made;
    if (!chosen.isEmpty()) {
        const std::optional<LocalSet> walked = walkSet(chosen, manifest.encoding, &error);
        require(walked.has_value(), u"the folders made could not be walked: "_s + error);
        for (const ManifestEntry &e : walked->manifest.entries)
            made.insert(e.path);
    }
    require(made == listed, u"the folders made are not those the manifest lists"_s);
}

void checkManifest(const QByteArray &bytes)
{
    QString refusal;
    const std::optional<Manifest> manifest = Manifest::parse(bytes, &refusal);
    if (!manifest) {
        require(!refusal.isEmpty() && refusal.size() <= MaxRefusalChars, u"a refusal empty or too long: "_s + refusal);
        require(std::none_of(refusal.cbegin(), refusal.cend(), [](QChar c) { return c.unicode() < 0x20; }),
                u"a refusal with a control character"_s);
        return;
    }
    require(manifest->encode() == bytes, u"a manifest did not write back to its bytes"_s);
    require(manifest->hash() == Manifest::hashOf(bytes), u"a manifest's hash is not that of its bytes"_s);
    for (const ManifestEntry &e : manifest->entries)
        require(Manifest::isSafePath(e.path, nullptr), u"a manifest kept an unsafe path"_s);
    checkPlacement(*manifest);
}

void checkDatagrams(const QByteArray &bytes)
{
    if (const std::optional<SetOffer> offer = SetOffer::parse(bytes)) {
        require(offer->encode() == bytes, u"an offer did not write back to its bytes"_s);
        require(offer->topNames.size() <= SetOffer::MaxTopNames, u"an offer with too many top names"_s);
    }
    if (const std::optional<SetAnswer> answer = SetAnswer::parse(bytes)) {
        require(answer->encode() == bytes, u"an answer did not write back to its bytes"_s);
        require(answer->ranges.size() <= SetAnswer::MaxRanges, u"an answer with too many ranges"_s);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = FuzzSupport::input(data, size);
    checkManifest(bytes);
    checkDatagrams(bytes);
    return 0;
}
