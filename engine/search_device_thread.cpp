#include "search_device_thread.h"

#include "search_log.h"
#include "wire_protocol.h"

#include <boost/bind/bind.hpp>
#include <boost/thread/thread.hpp>

#include <sys/socket.h>

#include <cstring>

namespace asio = boost::asio;
using asio::ip::udp;

CSearchDeviceThread::CSearchDeviceThread()
    : sock(ioService), nPort(wire::kFirstCommandPort), testCount(0), bExitSock(false), bTestCreate(false)
{
}

CSearchDeviceThread::~CSearchDeviceThread()
{
    bExitSock = true;
    StopSocket();
    WaitUntilReceiveEnded(std::chrono::milliseconds::max());
}

void CSearchDeviceThread::InitThreadValue(const char* strIP, int nPort, bool bTestCreate)
{
    this->strIP = strIP != nullptr ? strIP : "";
    this->nPort = nPort;
    this->bTestCreate = bTestCreate;
    WriteSearchLog("SendThread %d : Init Search Device Work Thread Value, strIP : %s, nPort : %d  ", this->nPort,
                   this->strIP.c_str(), this->nPort);
    CreateWorkThread();
}

void CSearchDeviceThread::CreateWorkThread()
{
    WriteSearchLog("SendThread %d : Create Search Device Work Thread   ", nPort);
    try {
        OpenSocket();
        sock.bind(udp::endpoint(asio::ip::address_v4::any(), static_cast<unsigned short>(nPort)));
        StartReceiveThread();
    } catch (const std::exception& error) {
        CloseSocketAfterFailure();
        WriteSearchLog("SendThread %d : Create Search Device Work Thread Error : %s   ", nPort, error.what());
    }
}

void CSearchDeviceThread::ExitWorkThread()
{
    bExitSock = true;
    StopSocket();
    WriteSearchLog("SendThread %d : Exit Search Device Tread , bExitSock : %d  ", nPort, bExitSock ? 1 : 0);
}

int CSearchDeviceThread::SendSearchCommand(void* /*pdhcp*/) { return 0; }

void CSearchDeviceThread::ClearDevice()
{
    boost::mutex::scoped_lock lock(deviceLock);
    deviceInfo.clear();
}

int CSearchDeviceThread::WorkThreadProc()
{
    WriteSearchLog("SendThread %d : Begin Search Device Work Thread  ", nPort);
    udp::endpoint sender;
    char buffer[wire::kMaxDatagramSize + 1];  // the byte after the datagram is always zero
    try {
        while (!bExitSock) {
            WriteSearchLog("SendThread %d : Wait Reciver Socket Protocol Info  ", nPort);
            std::memset(buffer, 0, sizeof buffer);
            size_t nLen = ReceiveDatagram(buffer, wire::kMaxDatagramSize, sender);
            WriteSearchLog("SendThread %d : Reciver Socket Protocol Info  ", nPort);
            if (nLen == 0) continue;
            std::string strSender = sender.address().to_string();
            WriteSearchLog("SendThread %d : Recive Socket Protocol IP : %s, nLen : %d  ", nPort, strSender.c_str(),
                           static_cast<int>(nLen));
            HandleReceiveInfo(buffer, static_cast<int>(nLen), strSender);
        }
    } catch (const std::exception& error) {
        WriteSearchLog("SendThread %d : Create Socket Protocolt Server Error : %s  ", nPort, error.what());
    }
    return 0;
}

void CSearchDeviceThread::HandleReceiveInfo(const char* /*pData*/, int /*nLen*/, std::string& /*strSender*/) {}

bool CSearchDeviceThread::WaitUntilReceiveEnded(std::chrono::milliseconds timeout)
{
    boost::mutex::scoped_lock lock(threadStateLock);
    if (timeout == std::chrono::milliseconds::max()) {
        while (bReceiveThreadRunning) receiveThreadEnded.wait(lock);
        return true;
    }
    return receiveThreadEnded.wait_for(lock, boost::chrono::milliseconds(timeout.count()),
                                       [this] { return !bReceiveThreadRunning; });
}

void CSearchDeviceThread::OpenSocket()
{
    sock.open(udp::v4());
    // The system caps the request at its own maximum; that is good enough.
    boost::system::error_code ignored;
    sock.set_option(asio::socket_base::receive_buffer_size(wire::kReceiveBufferBytes), ignored);
}

void CSearchDeviceThread::StartReceiveThread()
{
    {
        boost::mutex::scoped_lock lock(threadStateLock);
        bReceiveThreadRunning = true;
    }
    try {
        boost::thread receiveThread(boost::bind(&CSearchDeviceThread::RunReceiveThread, this));
        receiveThread.detach();
    } catch (...) {
        boost::mutex::scoped_lock lock(threadStateLock);
        bReceiveThreadRunning = false;
        throw;
    }
}

void CSearchDeviceThread::RunReceiveThread()
{
    WorkThreadProc();
    boost::mutex::scoped_lock lock(threadStateLock);
    bReceiveThreadRunning = false;
    receiveThreadEnded.notify_all();
}

void CSearchDeviceThread::CloseSocketAfterFailure()
{
    boost::system::error_code ignored;
    sock.close(ignored);
}

void CSearchDeviceThread::StopSocket()
{
    // Closing a descriptor does not wake a thread blocked in recvfrom on Linux;
    // shutting the socket down does, and every later receive returns at once.
    if (sock.is_open()) ::shutdown(sock.native_handle(), SHUT_RDWR);
    boost::mutex::scoped_lock lock(socketLock);
    boost::system::error_code ignored;
    sock.close(ignored);
}

size_t CSearchDeviceThread::ReceiveDatagram(char* buffer, size_t size, udp::endpoint& sender)
{
    // Checked under the lock: once StopSocket has closed the socket the
    // descriptor may belong to somebody else.
    boost::mutex::scoped_lock lock(socketLock);
    if (bExitSock || !sock.is_open()) return 0;
    boost::system::error_code error;
    size_t received = sock.receive_from(asio::buffer(buffer, size), sender, 0, error);
    return error ? 0 : received;
}

bool CSearchDeviceThread::RememberIfNewDevice(const deviceinfo& device)
{
    boost::mutex::scoped_lock lock(deviceLock);
    if (deviceInfo.compare(device)) return false;
    deviceInfo = device;
    return true;
}
