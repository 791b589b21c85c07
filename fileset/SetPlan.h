#pragma once

#include "fileset/SetDatagrams.h"
#include "fileset/SetStores.h"
#include "net/SetStrm.h"

#include <QList>

// The records a send asks for: every wanted file in index order, whole, but the resume file
// from the receiver's offset when the receiver's hash of the bytes before it equals ours. A
// file that changed since it was offered (size or time) goes as one the sender cannot send.
QList<SetStrm::Record> planRecords(const OutgoingSet &set, const SetAnswer &answer);
