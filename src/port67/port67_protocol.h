/* What nasscout-port67 tells the program it starts, beside the socket-
 * activation variables: that it ran, and whether port 67 is bound. */
#ifndef NASSCOUT_PORT67_PROTOCOL_H
#define NASSCOUT_PORT67_PROTOCOL_H

/* Set for the started program: NASSCOUT_PORT67_BOUND, or "bind: " and why not.
 * A program that finds it set does not run the helper again. */
#define NASSCOUT_PORT67_VARIABLE "NASSCOUT_PORT67"
#define NASSCOUT_PORT67_BOUND "bound"
/* LISTEN_FDNAMES of the one socket handed over. */
#define NASSCOUT_PORT67_FD_NAME "port67"

#endif
