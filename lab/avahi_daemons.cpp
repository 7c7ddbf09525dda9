#include "avahi_daemons.h"

#include "memory_file.h"

#include <unistd.h>

#include <cstdio>
#include <map>
#include <stdexcept>
#include <thread>

namespace netlab {

namespace {

// What each daemon does first in its own mount namespace: fresh /run and
// services folder. $0 is avahi-daemon's configuration.
const char kPrivateMounts[] =
    "set -e\n"
    "mount -t tmpfs -o size=4m,mode=0755 nasscout-lab /run\n"
    "mount -t tmpfs -o size=4m,mode=0755 nasscout-lab /etc/avahi/services\n";
const char kRunAvahi[] = "exec avahi-daemon -f \"$0\" --no-drop-root --no-chroot --no-rlimits\n";

// IPv4 only, on every interface of the host; no wide area.
std::string AvahiConfiguration(const std::string& hostName, bool dbus)
{
    return "[server]\nhost-name=" + hostName +
           "\ndomain-name=local\nuse-ipv4=yes\nuse-ipv6=no\nenable-dbus=" + (dbus ? "yes" : "no") +
           "\nratelimit-interval-usec=1000000\nratelimit-burst=1000\n"
           "[wide-area]\nenable-wide-area=no\n"
           "[publish]\npublish-hinfo=no\npublish-workstation=no\n" +
           (dbus ? "disable-publishing=yes\n" : "");
}

// The system bus of the finder: anyone on it may own and call anything.
const char kBusConfiguration[] =
    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <type>system</type>\n"
    "  <listen>" NETLAB_SYSTEM_BUS "</listen>\n"
    "  <auth>EXTERNAL</auth>\n"
    "  <policy context=\"default\">\n"
    "    <allow user=\"*\"/>\n"
    "    <allow own=\"*\"/>\n"
    "    <allow send_destination=\"*\"/>\n"
    "    <allow receive_sender=\"*\"/>\n"
    "  </policy>\n"
    "</busconfig>\n";

std::string XmlText(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            throw std::invalid_argument("a DNS-SD name with a control character cannot be published: an XML file "
                                        "cannot carry it");
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

// key=value with the value as hex, so that any byte can be published.
std::string TxtRecord(const std::string& entry)
{
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos) return "<txt-record>" + XmlText(entry) + "</txt-record>";
    std::string hex;
    char digits[3];
    for (std::size_t at = equals + 1; at < entry.size(); ++at) {
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(entry[at]));
        hex += digits;
    }
    return "<txt-record value-format=\"binary-hex\">" + XmlText(entry.substr(0, equals)) + "=" + hex +
           "</txt-record>";
}

}  // namespace

bool IsDnssdHostName(const std::string& name)
{
    if (name.empty() || name.size() > 63 || name.front() == '-' || name.back() == '-') return false;
    for (char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-')) return false;
    }
    return true;
}

std::vector<std::string> AvahiServiceFiles(const std::vector<DnssdService>& services)
{
    std::map<std::string, std::string> groups;  // by instance name
    for (const DnssdService& service : services) {
        std::string& group = groups[service.name];
        group += "  <service protocol=\"ipv4\">\n    <type>" + XmlText(service.type) + "</type>\n    <port>" +
                 std::to_string(service.port) + "</port>\n";
        for (const std::string& entry : service.txt) group += "    " + TxtRecord(entry) + "\n";
        group += "  </service>\n";
    }
    std::vector<std::string> files;
    for (const auto& [name, group] : groups) {
        files.push_back("<?xml version=\"1.0\" standalone='no'?>\n"
                        "<!DOCTYPE service-group SYSTEM \"avahi-service.dtd\">\n<service-group>\n" +
                        (name.empty() ? std::string("  <name replace-wildcards=\"yes\">%h</name>\n")
                                      : "  <name>" + XmlText(name) + "</name>\n") +
                        group + "</service-group>\n");
    }
    return files;
}

std::unique_ptr<AvahiDaemon> AvahiDaemon::Responder(Host& host, const std::string& hostName,
                                                    const std::vector<DnssdService>& services)
{
    if (!IsDnssdHostName(hostName)) throw std::invalid_argument("'" + hostName + "' is no host name avahi publishes");
    const std::vector<std::string> files = AvahiServiceFiles(services);
    std::unique_ptr<AvahiDaemon> daemon(new AvahiDaemon(host, files.size()));
    std::vector<std::string> arguments{AvahiConfiguration(hostName, false)};
    arguments.insert(arguments.end(), files.begin(), files.end());
    daemon->Start({kPrivateMounts,
                   "i=0; for file in \"$@\"; do i=$((i + 1)); cp \"$file\" /etc/avahi/services/$i.service; done\n",
                   kRunAvahi},
                  arguments);
    return daemon;
}

std::unique_ptr<AvahiDaemon> AvahiDaemon::Desktop(Host& host)
{
    std::unique_ptr<AvahiDaemon> daemon(new AvahiDaemon(host, 0));
    // dbus-daemon --fork returns once its socket listens.
    daemon->Start({kPrivateMounts, "dbus-daemon --config-file=\"$1\" --fork --nopidfile\n", kRunAvahi},
                  {AvahiConfiguration("finder", true), kBusConfiguration});
    return daemon;
}

AvahiDaemon::AvahiDaemon(Host& host, std::size_t groups) : host_(host), groups_(groups) {}

void AvahiDaemon::Start(const std::vector<std::string>& script, const std::vector<std::string>& arguments)
{
    std::string text;
    for (const std::string& part : script) text += part;
    std::vector<std::string> argv{"unshare", "--mount", "--propagation", "private", "--", "/bin/sh", "-c", text};
    for (const std::string& argument : arguments) {
        files_.push_back(MemoryFile("nasscout-lab-avahi", argument));
        argv.push_back(MemoryFilePath(files_.back()));
    }
    outputFd_ = MemoryFile("nasscout-lab-avahi-output", "");
    pid_ = host_.Spawn(argv, MemoryFilePath(outputFd_));
}

AvahiDaemon::~AvahiDaemon()
{
    Stop();
    for (int fd : files_) close(fd);
    if (outputFd_ >= 0) close(outputFd_);
}

bool AvahiDaemon::WaitReady(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::string output = Output();
        std::size_t established = 0;
        for (std::size_t at = 0; (at = output.find("successfully established", at)) != std::string::npos; ++at)
            ++established;
        if (output.find("Server startup complete") != std::string::npos && established >= groups_) return true;
        if (pid_ < 0 || host_.Poll(pid_) >= 0) {
            pid_ = -1;
            return false;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void AvahiDaemon::Stop()
{
    if (pid_ < 0) return;
    host_.Stop(pid_);
    pid_ = -1;
}

std::string AvahiDaemon::Output() const { return outputFd_ < 0 ? "" : ReadMemoryFile(outputFd_); }

}  // namespace netlab
