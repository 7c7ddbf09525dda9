/* nasscout-port67: the one privileged step of nasscout. The broadcast search
 * listens on UDP port 67, below 1024; this helper alone holds the capability
 * to bind it (cap_net_bind_service, given by the package). It binds the
 * socket, drops every capability and starts the window or nasscout-cli with
 * the socket by the socket-activation convention (LISTEN_FDS=1, LISTEN_PID,
 * the socket as descriptor 3). Without the port it starts them all the same.
 *
 *     nasscout-port67 nasscout|nasscout-cli [ARGUMENT]...
 *
 * It loads nothing but libc and starts nothing but those two programs, at
 * the paths fixed when it was built: whatever the environment says, the
 * privilege reaches no other code. The programs run it themselves (see
 * port67_handover.h); it is no command for people. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "port67_protocol.h"

extern char** environ;

/* The programs it may start, by the names they are asked for by. */
static const struct {
    const char* name;
    const char* path;
} kPrograms[] = {
#ifdef NASSCOUT_WINDOW_PATH
    {"nasscout", NASSCOUT_WINDOW_PATH},
#endif
#ifdef NASSCOUT_CLI_PATH
    {"nasscout-cli", NASSCOUT_CLI_PATH},
#endif
};

enum { kHandedDescriptor = 3, kBroadcastSearchPort = 67 };

/* Binds UDP port 67 on every address, broadcasts allowed; the descriptor, or
 * -1 with errno set. */
static int BindBroadcastPort(void)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(kBroadcastSearchPort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        bind(fd, (const struct sockaddr*)&address, sizeof address) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

/* Empties every capability set, the ambient one too, and checks that nothing
 * is left: the program must never start with the privilege. */
static int DropCapabilities(void)
{
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    memset(data, 0, sizeof data);
    if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) return -1;
    if (syscall(SYS_capset, &header, data) != 0) return -1;
    if (syscall(SYS_capget, &header, data) != 0) return -1;
    for (int index = 0; index < _LINUX_CAPABILITY_U32S_3; ++index) {
        if (data[index].effective != 0 || data[index].permitted != 0 || data[index].inheritable != 0) return -1;
    }
    return 0;
}

/* The caller's environment as it was given: glibc strips some variables from
 * a privileged program's (TMPDIR, LOCPATH ...), and the program, which has no
 * privilege, should see what the user set. environ when /proc cannot say. */
static char** CallersEnvironment(size_t* count)
{
    static char text[1 << 20];
    size_t length = 0;
    const int fd = open("/proc/self/environ", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        for (ssize_t got; length < sizeof text - 1 && (got = read(fd, text + length, sizeof text - 1 - length)) > 0;)
            length += (size_t)got;
        close(fd);
    }
    if (fd < 0 || length == 0 || length >= sizeof text - 1) {
        *count = 0;
        while (environ[*count] != NULL) ++*count;
        return environ;
    }
    text[length] = '\0';
    *count = 0;
    for (size_t at = 0; at < length; at += strlen(text + at) + 1) ++*count;
    char** variables = calloc(*count + 1, sizeof *variables);
    if (variables == NULL) return NULL;
    size_t index = 0;
    for (size_t at = 0; at < length; at += strlen(text + at) + 1) variables[index++] = text + at;
    return variables;
}

static int Named(const char* variable, const char* name)
{
    const size_t length = strlen(name);
    return strncmp(variable, name, length) == 0 && variable[length] == '=';
}

int main(int argc, char** argv)
{
    const char* path = NULL;
    for (size_t index = 0; argc >= 2 && index < sizeof kPrograms / sizeof kPrograms[0]; ++index) {
        if (strcmp(argv[1], kPrograms[index].name) == 0) path = kPrograms[index].path;
    }
    if (path == NULL) {
        fprintf(stderr, "Usage: nasscout-port67 PROGRAM [ARGUMENT]...\n"
                        "Starts nasscout or nasscout-cli with UDP port 67 bound; the programs run it themselves.\n");
        return 2;
    }

    const int fd = BindBroadcastPort();
    char outcome[160];
    snprintf(outcome, sizeof outcome, "%s=%s%s", NASSCOUT_PORT67_VARIABLE, fd >= 0 ? NASSCOUT_PORT67_BOUND : "bind: ",
             fd >= 0 ? "" : strerror(errno));
    if (DropCapabilities() != 0) {
        fprintf(stderr, "nasscout-port67: cannot drop its privileges: %s\n", strerror(errno));
        return 1;
    }
    if (fd >= 0) {
        /* Descriptor 3 without close-on-exec: the program's to take. */
        if (fd != kHandedDescriptor && (dup2(fd, kHandedDescriptor) < 0 || close(fd) != 0)) return 1;
        if (fd == kHandedDescriptor && fcntl(kHandedDescriptor, F_SETFD, 0) != 0) return 1;
    }

    size_t count = 0;
    char** given = CallersEnvironment(&count);
    char** variables = given != NULL ? calloc(count + 5, sizeof *variables) : NULL;
    if (variables == NULL) return 1;
    size_t used = 0;
    for (size_t index = 0; index < count; ++index) {
        const char* variable = given[index];
        if (Named(variable, "LISTEN_PID") || Named(variable, "LISTEN_FDS") || Named(variable, "LISTEN_FDNAMES") ||
            Named(variable, NASSCOUT_PORT67_VARIABLE))
            continue;
        variables[used++] = given[index];
    }
    char pid[32];
    snprintf(pid, sizeof pid, "LISTEN_PID=%ld", (long)getpid());  /* execve keeps the process, and its id */
    variables[used++] = outcome;
    if (fd >= 0) {
        variables[used++] = pid;
        variables[used++] = "LISTEN_FDS=1";
        variables[used++] = "LISTEN_FDNAMES=" NASSCOUT_PORT67_FD_NAME;
    }
    variables[used] = NULL;

    argv[1] = (char*)path;
    execve(path, argv + 1, variables);
    fprintf(stderr, "nasscout-port67: cannot run %s: %s\n", path, strerror(errno));
    return errno == ENOENT ? 127 : 126;
}
