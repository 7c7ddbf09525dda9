#include "search_device_thread.h"

#include "engine/sockets/close_on_exec_socket.h"
#include "engine/wire/log_texts.h"
#include "engine/wire/wire_protocol.h"
#include "handed_socket.h"
#include "log/search_log.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/bind/bind.hpp>
#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace asio = boost::asio;
using asio::ip::udp;

CSearchDeviceThread::CSearchDeviceThread()
    : sock(ioService), nPort(wire::kFirstCommandPort), bTestCreate(false), testCount(0), bExitSock(false)
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
    WriteLog(LOGTEXT_INIT_VALUES, this->strIP.c_str(), this->nPort);
    CreateWorkThread();
}

void CSearchDeviceThread::CreateWorkThread()
{
    WriteLog(LOGTEXT_CREATE);
    SetUpSocket(SocketRole::Plain);
}

void CSearchDeviceThread::ExitWorkThread()
{
    bExitSock = true;
    StopSocket();
    WriteLog(LOGTEXT_EXIT, bExitSock ? 1 : 0);
}

int CSearchDeviceThread::SendSearchCommand(void* /*pdhcp*/) { return 0; }

void CSearchDeviceThread::ClearDevice()
{
    AnnotatedLock lock(deviceLock);
    deviceInfo.clear();
}

int CSearchDeviceThread::WorkThreadProc()
{
    WriteLog(LOGTEXT_BEGIN_RECEIVING);
    udp::endpoint sender;
    char buffer[wire::kMaxDatagramSize + 1];  // the byte after the datagram is always zero
    try {
        while (!bExitSock) {
            WriteLog(LOGTEXT_WAIT_RECEIVE);
            std::memset(buffer, 0, sizeof buffer);
            size_t nLen = ReceiveDatagram(buffer, wire::kMaxDatagramSize, sender);
            WriteLog(LOGTEXT_RECEIVED);
            if (nLen == 0) continue;
            std::string strSender = sender.address().to_string();
            WriteLog(LOGTEXT_RECEIVED_FROM, strSender.c_str(), static_cast<int>(nLen));
            HandleReceiveInfo(buffer, static_cast<int>(nLen), strSender);
        }
    } catch (const std::exception& error) {
        WriteLog(LOGTEXT_RECEIVE_ERROR, error.what());
    }
    return 0;
}

void CSearchDeviceThread::HandleReceiveInfo(const char* /*pData*/, int /*nLen*/, std::string& /*strSender*/) {}

bool CSearchDeviceThread::WaitUntilReceiveEnded(std::chrono::milliseconds timeout)
{
    AnnotatedLock lock(threadStateLock);
    if (timeout == std::chrono::milliseconds::max()) {
        while (bReceiveThreadRunning) receiveThreadEnded.wait(threadStateLock);
        return true;
    }
    const auto deadline = boost::chrono::steady_clock::now() + boost::chrono::milliseconds(timeout.count());
    while (bReceiveThreadRunning) {
        if (receiveThreadEnded.wait_until(threadStateLock, deadline) == boost::cv_status::timeout) break;
    }
    return !bReceiveThreadRunning;
}

bool CSearchDeviceThread::SetUpSocket(SocketRole role)
{
    const int handed = role == SocketRole::Broadcast ? TakeHandedSocket(nPort) : -1;
    try {
        if (handed >= 0) {
            AdoptHandedSocket(handed);
        } else {
            boost::system::error_code error;
            if (OpenCloseOnExec(sock, error)) throw boost::system::system_error(error, "open");
        }
        SetReceiveBuffer();
        if (role == SocketRole::Broadcast) sock.set_option(asio::socket_base::broadcast(true));
        if (role == SocketRole::GroupMember) AlterMulticastGroup(true);
        asio::ip::address_v4 local = asio::ip::address_v4::any();
        if (role == SocketRole::BoundToAddress && !strIP.empty()) local = asio::ip::make_address_v4(strIP);
        if (handed < 0) sock.bind(udp::endpoint(local, static_cast<unsigned short>(nPort)));
        StartReceiveThread();
        return true;
    } catch (const std::exception& error) {
        boost::system::error_code ignored;
        sock.close(ignored);
        WriteLog(LOGTEXT_CREATE_ERROR, error.what());
        return false;
    }
}

void CSearchDeviceThread::AdoptHandedSocket(int fd)
{
    boost::system::error_code error;
    if (sock.assign(udp::v4(), fd, error)) {
        ::close(fd);
        throw boost::system::system_error(error, "assign");
    }
    WriteLog(LOGTEXT_HANDED_SOCKET, nPort);
}

void CSearchDeviceThread::SetReceiveBuffer()
{
    // SO_RCVBUF is capped at net.core.rmem_max (208 KiB on a stock kernel),
    // too small for thousands of answers at once; a process that may
    // (CAP_NET_ADMIN) asks past the cap.
    const int fd = sock.native_handle();
    const int wanted = wire::kReceiveBufferBytes;
    const bool forced = setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof wanted) == 0;
    if (!forced) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof wanted);
    int granted = 0;
    socklen_t length = sizeof granted;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    WriteLog(LOGTEXT_RECEIVE_BUFFER, granted, nPort, wanted,
             forced ? LOGTEXT_RECEIVE_BUFFER_FORCED : LOGTEXT_RECEIVE_BUFFER_CAPPED);
}

void CSearchDeviceThread::AlterMulticastGroup(bool join)
{
    try {
        asio::ip::address_v4 group = asio::ip::make_address_v4(wire::kMulticastGroup);
        if (join) {
            sock.set_option(asio::ip::multicast::join_group(group, asio::ip::address_v4::any()));
            WriteLog(LOGTEXT_JOIN_GROUP);
        } else {
            sock.set_option(asio::ip::multicast::leave_group(group, asio::ip::address_v4::any()));
            WriteLog(LOGTEXT_LEAVE_GROUP);
        }
    } catch (const std::exception& error) {
        WriteLog(LOGTEXT_GROUP_ERROR, error.what());
    }
}

void CSearchDeviceThread::StartReceiveThread()
{
    {
        AnnotatedLock lock(threadStateLock);
        bReceiveThreadRunning = true;
    }
    try {
        boost::thread receiveThread(boost::bind(&CSearchDeviceThread::RunReceiveThread, this));
        receiveThread.detach();
    } catch (...) {
        AnnotatedLock lock(threadStateLock);
        bReceiveThreadRunning = false;
        throw;
    }
}

void CSearchDeviceThread::RunReceiveThread()
{
    WorkThreadProc();
    AnnotatedLock lock(threadStateLock);
    bReceiveThreadRunning = false;
    receiveThreadEnded.notify_all();
}

void CSearchDeviceThread::StopSocket()
{
    // Closing a descriptor does not wake a thread blocked in recvfrom on Linux;
    // shutting the socket down does, and every later receive returns at once.
    if (sock.is_open()) ::shutdown(sock.native_handle(), SHUT_RDWR);
    AnnotatedLock lock(socketLock);
    boost::system::error_code ignored;
    sock.close(ignored);
}

size_t CSearchDeviceThread::ReceiveDatagram(char* buffer, size_t size, udp::endpoint& sender)
{
    // Checked under the lock: once StopSocket has closed the socket the
    // descriptor may belong to somebody else.
    AnnotatedLock lock(socketLock);
    if (bExitSock || !sock.is_open()) return 0;
    boost::system::error_code error;
    size_t received = sock.receive_from(asio::buffer(buffer, size), sender, 0, error);
    return error ? 0 : received;
}

bool CSearchDeviceThread::RememberIfNewDevice(const deviceinfo& device)
{
    AnnotatedLock lock(deviceLock);
    if (deviceInfo.compare(device)) return false;
    deviceInfo = device;
    return true;
}

void CSearchDeviceThread::WriteLog(const char* format, ...) const
{
    if (!SearchLogIsArmed()) return;  // three lines a datagram: not worth formatting for nobody
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, LOGTEXT_WORKER_PREFIX, nPort);
    va_list arguments;
    va_start(arguments, format);
    WriteSearchLogAfter(prefix, format, arguments);
    va_end(arguments);
}
