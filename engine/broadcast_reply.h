// Reading the reply to the broadcast search: a 148-byte DHCPPACKET whose
// type byte is the report kind and whose 128-byte text area holds key=value
// pairs joined by '&'. Pure functions, safe on any thread; they allocate
// nothing and read only inside the reply.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <cstddef>

// Fills type (byte 1, unsigned) and id, host, factory and product (keys
// "id=", "host=", "vendor=", "product=", 31 characters at most) of a zeroed
// record from the DHCPPACKET_SIZE bytes at reply. The caller has checked the
// length and the op code and sets ip itself; other fields are not touched.
// Always returns 1, whether or not any key was found.
int ParseBroadcastReply(const unsigned char* reply, deviceinfo& device);

// Copies the value of key into destination: the text after the key's first
// occurrence anywhere in text, up to the next '&' or the end of text, at
// most limit characters, followed by a zero. text is textSize bytes and ends
// early at its first zero byte; nothing past it is read. destination holds at
// least limit + 1 bytes. Returns 1 when the key was found, else 0 with
// destination untouched.
int GetReplyValue(const char* text, std::size_t textSize, char* destination, int limit, const char* key);
