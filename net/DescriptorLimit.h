#pragma once

// The process's limit on open descriptors. Every connection, listener, file and window takes
// descriptors, and the usual soft limit (1 024) is far below the hard one: the program raises
// its soft limit to the hard limit at start, so that it runs out only where the system says.
namespace DescriptorLimit {

// Raises the soft limit of open descriptors to the hard limit (to the system's most when the
// hard limit is unlimited). False when the limit could not be read or changed.
bool raiseToHard();

} // namespace DescriptorLimit
