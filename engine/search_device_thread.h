// The common base of every search worker: one UDP socket, one detached
// receive thread, and the record of the last device the worker reported.
//
// The search manager creates a worker on the heap, calls InitThreadValue once,
// then ClearDevice and SendSearchCommand on every search pass and
// ExitWorkThread at the end, all on the application's thread. The receive
// thread runs WorkThreadProc and, from it, HandleReceiveInfo. The engine
// never deletes a worker; whoever does must call ExitWorkThread and
// WaitUntilReceiveEnded first.
#pragma once

#include <searchdevice/deviceinfo.h>

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <chrono>
#include <string>

class CSearchDeviceThread {
public:
    CSearchDeviceThread();
    virtual ~CSearchDeviceThread();
    CSearchDeviceThread(const CSearchDeviceThread&) = delete;
    CSearchDeviceThread& operator=(const CSearchDeviceThread&) = delete;

    // Stores the address (null for none), port and retry switch, then creates
    // the worker: socket bound and receive thread running, or the failure logged.
    virtual void InitThreadValue(const char* strIP, int nPort, bool bTestCreate);

    // Opens and binds the socket and starts the receive thread; never throws.
    virtual void CreateWorkThread();

    // Sets bExitSock, wakes and closes the socket, logs. Does not wait for the
    // receive thread to end, only for it to leave a receive it is woken from.
    virtual void ExitWorkThread();

    // Sends the worker's search datagram (pdhcp lives only for the call); 0.
    virtual int SendSearchCommand(void* pdhcp);

    // Forgets the last reported device, so the next one received is new.
    virtual void ClearDevice();

    // The receive loop, on the worker's own thread; 0 when it ends.
    virtual int WorkThreadProc();

    // One received datagram: nLen bytes at pData (1 to 1024), always followed
    // by a zero byte; strSender is the sender's dotted address.
    virtual void HandleReceiveInfo(const char* pData, int nLen, std::string& strSender);

    // Blocks until the receive thread has ended or the timeout passed; true
    // when no receive thread runs any more.
    bool WaitUntilReceiveEnded(std::chrono::milliseconds timeout);

    int Port() const { return nPort; }

protected:
    // Opens sock for IPv4 UDP with a receive buffer large enough for a burst
    // of answers. Throws boost::system::system_error.
    void OpenSocket();

    // Starts the detached receive thread. Throws on failure.
    void StartReceiveThread();

    // Closes sock after a failed creation; no receive thread runs then.
    void CloseSocketAfterFailure();

    // Wakes a receive blocked on sock and closes it, without ever letting the
    // receive thread touch a closed (and perhaps reused) descriptor.
    void StopSocket();

    // Compares the record with deviceInfo and, when it differs, stores it.
    // True when the device is new and should be reported.
    bool RememberIfNewDevice(const deviceinfo& device);

    // Guarded by deviceLock: compared and written by the receive thread,
    // emptied by ClearDevice on the application's thread.
    deviceinfo deviceInfo;
    boost::asio::io_service ioService;
    // Opened, bound and closed on the application's thread; sent on there and
    // received on by the receive thread, which does so only under socketLock.
    boost::asio::ip::udp::socket sock;
    // Set before the receive thread starts; read-only afterwards.
    std::string strIP;
    int nPort;
    int testCount;
    // Written by the application's thread before the socket is closed, read by the receive thread.
    std::atomic<bool> bExitSock;
    bool bTestCreate;

private:
    void RunReceiveThread();
    size_t ReceiveDatagram(char* buffer, size_t size, boost::asio::ip::udp::endpoint& sender);

    boost::mutex deviceLock;
    // Held by the receive thread for the length of one receive, and by
    // StopSocket to close the socket; never held together with deviceLock.
    boost::mutex socketLock;
    boost::mutex threadStateLock;
    boost::condition_variable receiveThreadEnded;
    bool bReceiveThreadRunning = false;  // guarded by threadStateLock
};
