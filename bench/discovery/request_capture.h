// The moment a program in the finder host sends its search, seen on the
// wire: a packet socket on the finder's interface that keeps only outgoing
// UDP datagrams to the search ports (68 for the broadcast search, 1900 for
// the M-SEARCH), each stamped by the kernel as it leaves.
#pragma once

#include <string>

namespace discovery {

class RequestCapture {
public:
    // Throws std::runtime_error, naming the interface, when it cannot listen.
    explicit RequestCapture(const std::string& interface);
    ~RequestCapture();
    RequestCapture(const RequestCapture&) = delete;
    RequestCapture& operator=(const RequestCapture&) = delete;

    // Forgets every request seen so far.
    void Drain();

    // The CLOCK_REALTIME nanoseconds of the first request sent at or after
    // `sinceNs` and seen since the last Drain, or 0 when there was none.
    long long FirstRequestSince(long long sinceNs);

private:
    int fd_ = -1;
};

}  // namespace discovery
