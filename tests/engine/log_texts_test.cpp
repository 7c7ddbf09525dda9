// The engine's log texts, byte for byte: scripts and people read these
// lines, so a change of spelling or of a trailing blank breaks them. Every
// other test reads the texts through log_texts.h; this one says what they are.
#include "engine/wire/log_texts.h"

#include <gtest/gtest.h>

#include <string>

TEST(LogTexts, StayAsScriptsReadThem)
{
    const struct {
        const char* layout;
        const char* bytes;
    } texts[] = {
        {LOGTEXT_WORKER_PREFIX, "SendThread %d : "},
        {LOGTEXT_REPORT_PREFIX, "Handle %d : Search %d Thread "},
        {LOGTEXT_INIT_VALUES, "Init Search Device Work Thread Value, strIP : %s, nPort : %d  "},
        {LOGTEXT_CREATE, "Create Search Device Work Thread   "},
        {LOGTEXT_CREATE_BROADCAST, "Create Search Device Work Thread "},
        {LOGTEXT_CREATE_ERROR, "Create Search Device Work Thread Error : %s   "},
        {LOGTEXT_BEGIN_RECEIVING, "Begin Search Device Work Thread  "},
        {LOGTEXT_WAIT_RECEIVE, "Wait Reciver Socket Protocol Info  "},
        {LOGTEXT_RECEIVED, "Reciver Socket Protocol Info  "},
        {LOGTEXT_RECEIVED_FROM, "Recive Socket Protocol IP : %s, nLen : %d  "},
        {LOGTEXT_RECEIVE_ERROR, "Create Socket Protocolt Server Error : %s  "},
        {LOGTEXT_EXIT, "Exit Search Device Tread , bExitSock : %d  "},
        {LOGTEXT_JOIN_GROUP, "Add To Multicast Group Info "},
        {LOGTEXT_LEAVE_GROUP, "Leave To Multicast Group Info "},
        {LOGTEXT_GROUP_ERROR, "Alter Device Mulitcast Group Error : %s  \r\n"},
        {LOGTEXT_RETRY_ERROR, "Handle Create Search Device Work Thread Error  "},
        {LOGTEXT_RETRY, "Test Create Search Device Work Thread, testCount = %d, port = %d  "},
        {LOGTEXT_SEND_SEARCH, "Send Search Device Command  "},
        {LOGTEXT_SEND_SEARCH_ERROR, "Send Search Device Error : %s   "},
        {LOGTEXT_HANDLE_MULTICAST, "Handle Mulitcast Recive Information  "},
        {LOGTEXT_MULTICAST_OLD, "Handle Mulitcast Recive Information Fail : Old Device, type = %d "},
        {LOGTEXT_MULTICAST_NEW, "Handle Mulitcast Recive Information Success, type = %d "},
        {LOGTEXT_SEND_BROADCAST, "Send Broadcast Search Command  "},
        {LOGTEXT_SEND_BROADCAST_ERROR, "Send Broadcast Search Error : %s   "},
        {LOGTEXT_HANDLE_BROADCAST, "Handle Broadcast Recive Information  "},
        {LOGTEXT_NOT_A_DEVICE, "Recive IP : %s is not Device "},
        {LOGTEXT_BROADCAST_OLD, "Handle Broadcast Recive Information Fail "},
        {LOGTEXT_BROADCAST_NEW, "Handle Broadcast Recive Information Success "},
        {LOGTEXT_LOCAL_ADDRESSES, "Get Current Local IP Info "},
        {LOGTEXT_LOCAL_ADDRESS, "Get Current Local IP, IP = %s  "},
        {LOGTEXT_LOCAL_ADDRESSES_ERROR, "Add To Mulitcast Group Error : %s   "},
        {LOGTEXT_DEFAULT_PACKET, "SendMessage : pdhcp is NULL "},
        {LOGTEXT_GIVEN_PACKET, "SendMessage : pdhcp is not NULL "},
        {LOGTEXT_REPORT_WAIT, "Find Device and wait for mutex  "},
        {LOGTEXT_REPORT_LOCKED, "Find Device have Mutex  "},
        {LOGTEXT_REPORT_DEVICE, "Find Device ID : %s, IP : %s  "},
        {LOGTEXT_REPORT_DONE, "Find Device Success Handle  "},
    };
    for (const auto& text : texts) EXPECT_EQ(std::string(text.layout), text.bytes);
}
