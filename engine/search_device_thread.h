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

#include "engine/sync/annotated_mutex.h"

#include <searchdevice/deviceinfo.h>

#include <boost/asio/io_context.hpp>
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
    virtual void ClearDevice() EXCLUDES(deviceLock);

    // The receive loop, on the worker's own thread; 0 when it ends.
    virtual int WorkThreadProc();

    // One received datagram: nLen bytes at pData (1 to 1024), always followed
    // by a zero byte; strSender is the sender's dotted address.
    virtual void HandleReceiveInfo(const char* pData, int nLen, std::string& strSender);

    // Blocks until the receive thread has ended or the timeout passed; true
    // when no receive thread runs any more.
    bool WaitUntilReceiveEnded(std::chrono::milliseconds timeout) EXCLUDES(threadStateLock);

    int Port() const { return nPort; }

protected:
    // What sets a worker's socket apart from the plain one.
    enum class SocketRole {
        Plain,           // bound to every address
        Broadcast,       // may send to the limited broadcast address
        GroupMember,     // joins the search group before it binds
        BoundToAddress,  // bound to strIP (every address when it is empty)
    };

    // The one way a worker sets up: opens the socket (close-on-exec), sets it
    // up for its role, binds it on nPort and starts the receive thread. A
    // Broadcast worker takes the socket of its port that the program was
    // handed at start (TakeHandedSocket), bound already, where there is one.
    // False when a step failed: the error is logged and the socket closed again.
    bool SetUpSocket(SocketRole role);
    // Makes `fd` the worker's socket; closes it and throws when it cannot.
    void AdoptHandedSocket(int fd);
    // Asks for wire::kReceiveBufferBytes and logs what the socket got.
    void SetReceiveBuffer();

    // Joins (true) or leaves (false) the search group on the interface the
    // system chooses. A failure is logged and swallowed.
    void AlterMulticastGroup(bool join);

    // Wakes a receive blocked on sock and closes it, without ever letting the
    // receive thread touch a closed (and perhaps reused) descriptor.
    void StopSocket() EXCLUDES(socketLock);

    // Compares the record with the last one reported and, when it differs,
    // stores it. True when the device is new and should be reported.
    bool RememberIfNewDevice(const deviceinfo& device) EXCLUDES(deviceLock);

    // Writes "SendThread <nPort> : " and the formatted message to the search log.
    void WriteLog(const char* format, ...) const __attribute__((format(printf, 2, 3)));

    boost::asio::io_context ioService;  // the name is fixed; the type is the I/O context
    // Opened, bound, sent on and closed on the application's thread; received
    // on by the receive thread, which does so only under socketLock, and
    // closed only under socketLock.
    boost::asio::ip::udp::socket sock;

    // Set by InitThreadValue before the receive thread starts (a failed
    // creation moves nPort on before another try); read-only afterwards.
    std::string strIP;
    int nPort;
    bool bTestCreate;
    int testCount;  // application's thread only

    // Written by the application's thread before the socket is closed, read by the receive thread.
    std::atomic<bool> bExitSock;

private:
    void StartReceiveThread() EXCLUDES(threadStateLock);
    void RunReceiveThread() EXCLUDES(threadStateLock);
    size_t ReceiveDatagram(char* buffer, size_t size, boost::asio::ip::udp::endpoint& sender) EXCLUDES(socketLock);

    // Lock order: the three locks below are leaves. A worker takes each alone,
    // never two at once and never one while it reports a device
    // (g_findDeviceMutex is taken with none of them held).

    // Compared and written by the receive thread, emptied by ClearDevice on
    // the application's thread.
    AnnotatedMutex<boost::mutex> deviceLock;
    deviceinfo deviceInfo GUARDED_BY(deviceLock);

    // Held by the receive thread for the length of one receive, and by
    // StopSocket to close the socket.
    AnnotatedMutex<boost::mutex> socketLock;

    AnnotatedMutex<boost::mutex> threadStateLock;
    bool bReceiveThreadRunning GUARDED_BY(threadStateLock) = false;
    // Waits on threadStateLock itself, so the analysis sees it held throughout.
    boost::condition_variable_any receiveThreadEnded;
};
