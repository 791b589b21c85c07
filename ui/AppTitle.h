#pragma once

#include <QString>

// The application title: the task-bar name, and the title of plain and error boxes.
inline QString appTitle() { return QStringLiteral("Talvino version 1.0"); }
