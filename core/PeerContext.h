#pragma once

#include <QString>

class Prompts;
class ErrorReporter;

// What one running peer is given from outside: where its files live, which address its
// sockets bind, and how it talks to the user. Two peers in one test process each have
// their own context.
struct PeerContext {
    // Folder of myinfo.ini, chatdat/ and readme.txt (the executable's folder in the program).
    QString appDir;
    // Address the datagram endpoint and the stream listeners bind.
    QString bindAddress = QStringLiteral("0.0.0.0");
    Prompts *prompts = nullptr;
    ErrorReporter *reporter = nullptr;
};
