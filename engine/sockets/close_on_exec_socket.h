// UDP sockets that no program the process starts inherits: the desktop's URL
// opener, and the browser or file manager after it, would otherwise hold the
// search ports after the finder has gone.
#pragma once

#include <boost/asio/error.hpp>
#include <boost/asio/ip/udp.hpp>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

// Opens `socket` for IPv4 UDP with close-on-exec set in the same call, so that
// a program started by another thread at that moment cannot inherit it either.
// Returns the error, also left in `error`, as the socket's own open does.
inline boost::system::error_code OpenCloseOnExec(boost::asio::ip::udp::socket& socket,
                                                 boost::system::error_code& error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error.assign(errno, boost::asio::error::get_system_category());
        return error;
    }
    socket.assign(boost::asio::ip::udp::v4(), fd, error);
    if (error) ::close(fd);
    return error;
}
