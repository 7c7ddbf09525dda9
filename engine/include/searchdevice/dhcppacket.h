/* The 148-byte broadcast search datagram and its reply.
 *
 * All members are single bytes or byte arrays, so byte order never arises.
 * A request carries op code 11, type 1, bytes 4 to 7 all 0xFF and a zero text
 * area; a reply carries op code 12, the report kind in type and key=value
 * pairs separated by '&' in its text area. */
#ifndef SEARCHDEVICE_DHCPPACKET_H
#define SEARCHDEVICE_DHCPPACKET_H

#define DHCPPACKET_SIZE 148
#define DHCPPACKET_TEXT_OFFSET 20
#define DHCPPACKET_TEXT_SIZE 128
#define DHCPPACKET_OP_SEARCH 11
#define DHCPPACKET_OP_REPLY 12

typedef struct DHCPPACKET {
    unsigned char op;          /* 0: 11 search request, 12 search reply */
    unsigned char type;        /* 1: 1 in a request; the report kind in a reply */
    unsigned char reserved[2]; /* 2: zero */
    unsigned char mask[4];     /* 4: FF FF FF FF in a request */
    unsigned char unused[12];  /* 8: zero */
    unsigned char text[DHCPPACKET_TEXT_SIZE]; /* 20: key=value text of a reply */
} DHCPPACKET;

#ifdef __cplusplus
static_assert(sizeof(DHCPPACKET) == DHCPPACKET_SIZE, "DHCPPACKET is 148 bytes on the wire");

/* The request a search pass sends when the caller gives none. */
inline DHCPPACKET DefaultSearchPacket()
{
    DHCPPACKET packet = {};
    packet.op = DHCPPACKET_OP_SEARCH;
    packet.type = 1;
    for (unsigned char& maskByte : packet.mask) maskByte = 0xFF;
    return packet;
}
#else
_Static_assert(sizeof(DHCPPACKET) == DHCPPACKET_SIZE, "DHCPPACKET is 148 bytes on the wire");
#endif

#endif
