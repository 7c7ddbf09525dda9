// Every line the engine writes to its search log, as a printf layout. Scripts,
// tests and people read these lines byte for byte: each text stays exactly as
// it is, odd spellings ("Recive", "Reciver", "Mulitcast", "Tread", "Protocolt")
// and trailing blanks included. They are literals, so the compiler checks the
// arguments of every line against its layout. The log itself adds the stamp
// and the line end (log/search_log.h).
#pragma once

// A worker's lines start with its port, which numbers the worker.
#define LOGTEXT_WORKER_PREFIX "SendThread %d : "
// A report's lines start with the reporting worker's port, twice.
#define LOGTEXT_REPORT_PREFIX "Handle %d : Search %d Thread "

// Every worker: creation, the receive loop and the stop.
#define LOGTEXT_INIT_VALUES "Init Search Device Work Thread Value, strIP : %s, nPort : %d  "
#define LOGTEXT_CREATE "Create Search Device Work Thread   "
#define LOGTEXT_CREATE_BROADCAST "Create Search Device Work Thread "
#define LOGTEXT_CREATE_ERROR "Create Search Device Work Thread Error : %s   "
#define LOGTEXT_BEGIN_RECEIVING "Begin Search Device Work Thread  "
#define LOGTEXT_WAIT_RECEIVE "Wait Reciver Socket Protocol Info  "
#define LOGTEXT_RECEIVED "Reciver Socket Protocol Info  "
#define LOGTEXT_RECEIVED_FROM "Recive Socket Protocol IP : %s, nLen : %d  "
#define LOGTEXT_RECEIVE_ERROR "Create Socket Protocolt Server Error : %s  "
#define LOGTEXT_EXIT "Exit Search Device Tread , bExitSock : %d  "

// The multicast and per-address workers.
#define LOGTEXT_JOIN_GROUP "Add To Multicast Group Info "
#define LOGTEXT_LEAVE_GROUP "Leave To Multicast Group Info "
#define LOGTEXT_GROUP_ERROR "Alter Device Mulitcast Group Error : %s  \r\n"
#define LOGTEXT_RETRY_ERROR "Handle Create Search Device Work Thread Error  "
#define LOGTEXT_RETRY "Test Create Search Device Work Thread, testCount = %d, port = %d  "
#define LOGTEXT_SEND_SEARCH "Send Search Device Command  "
#define LOGTEXT_SEND_SEARCH_ERROR "Send Search Device Error : %s   "
#define LOGTEXT_HANDLE_MULTICAST "Handle Mulitcast Recive Information  "
#define LOGTEXT_MULTICAST_OLD "Handle Mulitcast Recive Information Fail : Old Device, type = %d "
#define LOGTEXT_MULTICAST_NEW "Handle Mulitcast Recive Information Success, type = %d "

// The broadcast worker.
#define LOGTEXT_SEND_BROADCAST "Send Broadcast Search Command  "
#define LOGTEXT_SEND_BROADCAST_ERROR "Send Broadcast Search Error : %s   "
#define LOGTEXT_HANDLE_BROADCAST "Handle Broadcast Recive Information  "
#define LOGTEXT_NOT_A_DEVICE "Recive IP : %s is not Device "
#define LOGTEXT_BROADCAST_OLD "Handle Broadcast Recive Information Fail "
#define LOGTEXT_BROADCAST_NEW "Handle Broadcast Recive Information Success "

// The search manager and the call interface, without a prefix.
#define LOGTEXT_LOCAL_ADDRESSES "Get Current Local IP Info "
#define LOGTEXT_LOCAL_ADDRESS "Get Current Local IP, IP = %s  "
#define LOGTEXT_LOCAL_ADDRESSES_ERROR "Add To Mulitcast Group Error : %s   "
#define LOGTEXT_DEFAULT_PACKET "SendMessage : pdhcp is NULL "
#define LOGTEXT_GIVEN_PACKET "SendMessage : pdhcp is not NULL "

// A report, after LOGTEXT_REPORT_PREFIX.
#define LOGTEXT_REPORT_WAIT "Find Device and wait for mutex  "
#define LOGTEXT_REPORT_LOCKED "Find Device have Mutex  "
#define LOGTEXT_REPORT_DEVICE "Find Device ID : %s, IP : %s  "
#define LOGTEXT_REPORT_DONE "Find Device Success Handle  "

// Lines of this engine's own, which say what the texts above leave unsaid.
#define LOGTEXT_RECEIVE_BUFFER "Receive buffer of %d bytes for port %d (asked for %d%s)  "
#define LOGTEXT_RECEIVE_BUFFER_FORCED ", forced"
#define LOGTEXT_RECEIVE_BUFFER_CAPPED "; more needs CAP_NET_ADMIN or a larger net.core.rmem_max"
#define LOGTEXT_HANDED_SOCKET "Took the socket of port %d that the program was handed, bound already  "
#define LOGTEXT_NO_WORKER LOGTEXT_WORKER_PREFIX "No search worker for IP %s, searching on without it : %s  "
#define LOGTEXT_PORTS_USED_UP "Per-address workers end at port %d: %d local IPs go without one  "
#define LOGTEXT_STOPPED_SHORT "%s stopped short : %s  "
