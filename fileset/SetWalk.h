#pragma once

#include "fileset/Manifest.h"

#include <QString>
#include <QStringList>

#include <optional>

// What the sender offers: the manifest of the files and folders the person chose, and where
// each entry lies on this computer.
struct LocalSet {
    Manifest manifest;
    QStringList localPaths; // per manifest entry, its absolute local path
    int skippedLinks = 0; // symbolic links, never listed
    int skippedOther = 0; // sockets, pipes, devices: neither file nor folder
};

// Lists the chosen files and folders (absolute paths). Each becomes an entry at the top of the
// set under its own name; a folder brings everything below it, empty folders too, each folder
// before its contents and the names of a folder sorted. Links are never followed: a link,
// chosen or found, is skipped and counted, as is anything that is neither file nor folder.
// Nothing and error (a sentence for the person) when two chosen items have the same name, when
// there are more than Manifest::MaxEntries entries, when a name breaks the rules of a manifest
// or is not UTF-8, or when a folder cannot be read.
std::optional<LocalSet> walkSet(const QStringList &chosen, NameEncoding encoding, QString *error);
