// Sockets a program is handed when it starts, by the socket-activation
// convention: LISTEN_PID names the process, LISTEN_FDS counts descriptors
// from 3. The broadcast search's port 67 is below 1024, and only a small
// helper that loads nothing but libc holds the privilege to bind it: it binds
// the socket, drops the privilege and starts the program with the socket.
//
// Application's thread only, like the worker creation that asks for it.
#pragma once

// The descriptor among those handed over that is an IPv4 UDP socket bound to
// `port`, now close-on-exec; -1 when there is none. A socket is taken once:
// once the engine has closed it, its number may belong to anything, so a
// later call (an engine started again) returns -1.
int TakeHandedSocket(int port);
