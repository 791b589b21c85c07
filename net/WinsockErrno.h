#pragma once

// The socket components report errors by the classic Windows Sockets numbers that peers and
// users of this messenger know (10061 for a refused connection, 10035 for "would block").
// POSIX errno values are mapped onto them here; an errno with no twin is returned unchanged,
// so it is reported as "Unknown Error No. " followed by the errno.
namespace WinsockErrno {

constexpr int WouldBlock = 10035;

int fromErrno(int posixErrno);

} // namespace WinsockErrno
