#pragma once

// A stand-in for a screen reader on a session's accessibility bus (lan_bench --role
// screen-reader, run with DBUS_SESSION_BUS_ADDRESS set): it asks the accessibility registry for
// every object, window and focus event, as a screen reader does (so the applications' bridges
// send them), and receives and counts them. Prints "ready" once registered and, when asked to
// end (SIGTERM), the number of events it received. Returns 1 when there is no accessibility bus
// or the registry refused.
int screenReaderStandIn(int argc, char **argv);
