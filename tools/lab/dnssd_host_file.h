// The DNS-SD hosts of nasscout-lab's --dnssd FILE: NAS devices of other
// makes, each a host of the lab with avahi-daemon publishing its services.
#pragma once

#include "lab/avahi_daemons.h"

#include <string>
#include <vector>

namespace lab {

struct LabDnssdHost {
    std::string ip;    // in the lab's ranges
    std::string name;  // published as NAME.local
    std::vector<netlab::DnssdService> services;
    int leaveAfterSeconds = 0;  // says goodbye and goes this long after the start; 0: stays
};

// Appends the hosts of a JSON file: {"hosts": [...]} or the array alone, each
//   {"ip": "198.51.100.30", "name": "nas-b", "leave_after": 4,
//    "services": [{"type": "_smb._tcp", "name": "Office NAS", "port": 445,
//                  "txt": ["model=NS-4"], "txt_hex": ["model=1b5b324a"]}]}
// ("leave_after", a service's "name", "txt" and "txt_hex" optional; txt_hex
// gives a value as hex, for bytes JSON cannot carry). False, with a message
// naming the file, host and service, when one is unusable.
bool LoadDnssdHostFile(const std::string& path, std::vector<LabDnssdHost>& hosts, std::string& error);

}  // namespace lab
