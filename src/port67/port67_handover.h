// How nasscout and nasscout-cli get UDP port 67 without any privilege of
// their own: an installed program starts itself again through
// nasscout-port67, which binds the port and hands the socket over (the
// engine's broadcast worker takes it, see engine/handed_socket.h). A program
// run from a build tree, or where the helper is missing or may not be run,
// goes on as it is, and its broadcast worker tries to bind the port itself.
#pragma once

#include <string>

// Call first thing in main, while the process has one thread. When this is
// the installed `program` ("nasscout" or "nasscout-cli") and it has not come
// through the helper, it runs the helper with the same arguments and does not
// return. Otherwise it returns, having removed the helper's note from the
// environment, so that programs it starts run the helper themselves.
void RunThroughPort67Helper(char** argv, const char* program);

// What the helper said when this process came through it: "bound", or
// "bind: " and why not; empty when it did not come through it.
const std::string& Port67HelperOutcome();
