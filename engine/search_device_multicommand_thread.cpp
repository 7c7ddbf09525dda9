#include "search_device_multicommand_thread.h"

#include "search_log.h"

namespace asio = boost::asio;
using asio::ip::udp;

void CSearchDeviceMultiCommandThead::CreateWorkThread()
{
    WriteSearchLog("SendThread %d : Create Search Device Work Thread   ", nPort);
    try {
        OpenSocket();
        asio::ip::address_v4 local = strIP.empty() ? asio::ip::address_v4::any() : asio::ip::make_address_v4(strIP);
        sock.bind(udp::endpoint(local, static_cast<unsigned short>(nPort)));
        StartReceiveThread();
    } catch (const std::exception& error) {
        CloseSocketAfterFailure();
        WriteSearchLog("SendThread %d : Create Search Device Work Thread Error : %s   ", nPort, error.what());
        if (bTestCreate) HandleCreateWorkThreadError();
    }
}

void CSearchDeviceMultiCommandThead::ExitWorkThread() { CSearchDeviceThread::ExitWorkThread(); }
