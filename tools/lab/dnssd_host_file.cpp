#include "dnssd_host_file.h"

#include "engine/untrusted/printable_text.h"
#include "tools/sim/sim_device.h"

#include <nlohmann/json.hpp>

#include <regex>
#include <set>

namespace lab {

namespace {

using nlohmann::json;

constexpr int kLongestStaySeconds = 86400;
// DNS-SD's own bounds: a label (an instance name) and a TXT string.
constexpr std::size_t kLongestInstanceName = 63;
constexpr std::size_t kLongestTxtEntry = 255;

bool CheckKeys(const json& object, const std::set<std::string>& known, std::string& error)
{
    for (const auto& item : object.items()) {
        if (known.count(item.key()) == 0) {
            error = "unknown key \"" + printable::LineText(item.key()) + "\"";
            return false;
        }
    }
    return true;
}

// "key=6869" becomes "key=hi".
bool FromHex(const std::string& entry, std::string& bytes, std::string& error)
{
    const std::size_t equals = entry.find('=');
    const std::string hex = equals == std::string::npos ? "" : entry.substr(equals + 1);
    if (equals == std::string::npos || hex.size() % 2 != 0 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        error = "\"txt_hex\" entry \"" + printable::LineText(entry) + "\" is not KEY=HEX";
        return false;
    }
    bytes = entry.substr(0, equals + 1);
    for (std::size_t at = 0; at < hex.size(); at += 2) bytes += static_cast<char>(std::stoi(hex.substr(at, 2), nullptr, 16));
    return true;
}

bool ReadTxt(const json& service, netlab::DnssdService& read, std::string& error)
{
    for (const char* key : {"txt", "txt_hex"}) {
        if (!service.contains(key)) continue;
        if (!service[key].is_array()) {
            error = std::string("\"") + key + "\" is not an array of strings";
            return false;
        }
        for (const json& entry : service[key]) {
            if (!entry.is_string()) {
                error = std::string("\"") + key + "\" is not an array of strings";
                return false;
            }
            std::string bytes = entry.get<std::string>();
            if (key == std::string("txt_hex") && !FromHex(entry.get<std::string>(), bytes, error)) return false;
            if (bytes.empty() || bytes.size() > kLongestTxtEntry || bytes[0] == '=') {
                error = "a TXT entry must have a key and at most " + std::to_string(kLongestTxtEntry) + " bytes";
                return false;
            }
            read.txt.push_back(bytes);
        }
    }
    return true;
}

bool ReadService(const json& service, netlab::DnssdService& read, std::string& error)
{
    static const std::regex kType("_[a-z0-9-]{1,15}\\._(tcp|udp)");
    if (!service.is_object()) {
        error = "not an object";
        return false;
    }
    if (!CheckKeys(service, {"type", "name", "port", "txt", "txt_hex"}, error)) return false;
    if (!service.contains("type") || !service["type"].is_string() ||
        !std::regex_match(service["type"].get<std::string>(), kType)) {
        error = "\"type\" is not a service type such as \"_smb._tcp\"";
        return false;
    }
    read.type = service["type"];
    if (service.contains("name")) {
        if (!service["name"].is_string() || service["name"].get<std::string>().empty() ||
            service["name"].get<std::string>().size() > kLongestInstanceName) {
            error = "\"name\" is not an instance name of 1 to " + std::to_string(kLongestInstanceName) + " bytes";
            return false;
        }
        read.name = service["name"];
    }
    if (!service.contains("port") || !service["port"].is_number_integer() || service["port"] < 0 ||
        service["port"] > 65535) {
        error = "\"port\" is not a port number from 0 to 65535";
        return false;
    }
    read.port = service["port"];
    return ReadTxt(service, read, error);
}

bool ReadHost(const json& host, LabDnssdHost& read, std::string& error)
{
    if (!host.is_object()) {
        error = "not an object";
        return false;
    }
    if (!CheckKeys(host, {"ip", "name", "services", "leave_after"}, error)) return false;
    if (!host.contains("ip") || !host["ip"].is_string()) {
        error = "no \"ip\" string";
        return false;
    }
    read.ip = host["ip"];
    if (!host.contains("name") || !host["name"].is_string() || !netlab::IsDnssdHostName(host["name"])) {
        error = "\"name\" is not a host name of 1 to 63 letters, digits and '-'";
        return false;
    }
    read.name = host["name"];
    if (host.contains("leave_after")) {
        const json& leave = host["leave_after"];
        if (!leave.is_number_integer() || leave < 1 || leave > kLongestStaySeconds) {
            error = "\"leave_after\" is not a whole number of seconds from 1 to " + std::to_string(kLongestStaySeconds);
            return false;
        }
        read.leaveAfterSeconds = leave;
    }
    if (!host.contains("services") || !host["services"].is_array() || host["services"].empty()) {
        error = "no \"services\" array with one service at least";
        return false;
    }
    for (std::size_t index = 0; index < host["services"].size(); ++index) {
        netlab::DnssdService service;
        if (!ReadService(host["services"][index], service, error)) {
            error = "service " + std::to_string(index + 1) + ": " + error;
            return false;
        }
        read.services.push_back(service);
    }
    return true;
}

}  // namespace

bool LoadDnssdHostFile(const std::string& path, std::vector<LabDnssdHost>& hosts, std::string& error)
{
    json document;
    if (!sim::ReadJsonFile(path, document, error)) {
        error = "--dnssd " + error;
        return false;
    }
    if (document.is_object() && document.contains("hosts")) document = document["hosts"];
    if (!document.is_array() || document.empty()) {
        error = "--dnssd " + printable::LineText(path) + ": expected {\"hosts\": [...]} or an array of hosts, with one at least";
        return false;
    }
    for (std::size_t index = 0; index < document.size(); ++index) {
        LabDnssdHost host;
        if (!ReadHost(document[index], host, error)) {
            error = "--dnssd " + printable::LineText(path) + ": host " + std::to_string(index + 1) + ": " + error;
            return false;
        }
        hosts.push_back(host);
    }
    return true;
}

}  // namespace lab
