// The serial ports and the udev rule on POSIX systems.
#include <dirent.h>

#include <algorithm>
#include <filesystem>

#include "cli/ports_platform.h"
#include "link/transport.h"

namespace tolv::cli {
namespace {

bool IsSerialName(const std::string& name) {
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"})
    if (name.starts_with(prefix) && name.size() > std::string(prefix).size()) return true;
  return false;
}

// Faults worth a line: the port is there, but this user may not use it now.
bool WorthListing(const std::string& fault) {
  return fault.find("no permission") != std::string::npos || fault.find("in use") != std::string::npos;
}

constexpr const char* kRuleName = "60-tolvpack-toppy.rules";

}  // namespace

std::vector<SerialPortEntry> Ports_SerialPorts() {
  std::vector<std::string> names;
  if (DIR* dir = opendir("/dev")) {
    while (const dirent* entry = readdir(dir))
      if (IsSerialName(entry->d_name)) names.emplace_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), Serial_PortNameLess);
  std::vector<SerialPortEntry> ports;
  for (const std::string& name : names) {
    const std::string path = "/dev/" + name;
    if (IsDeviceAvailable(path)) {
      ports.push_back({path, {}});
      continue;
    }
    std::string why;
    if (Serial_Open(path, &why)) {  // free again by now
      ports.push_back({path, {}});
      continue;
    }
    // The diagnostic starts with the port's name.
    if (why.starts_with(path + ": ")) why.erase(0, path.size() + 2);
    if (WorthListing(why)) ports.push_back({path, why});
  }
  return ports;
}

std::string Ports_UsbAdvice(const std::string& diagnostic) {
  const std::string advice =
      " (install the udev rule " + std::string(kRuleName) + ", then plug the receiver in again)";
  const size_t at = diagnostic.find(advice);
  if (at == std::string::npos) return diagnostic;
  std::error_code error;
  for (const char* dir : {"/usr/lib/udev/rules.d/", "/lib/udev/rules.d/", "/etc/udev/rules.d/"}) {
    if (!std::filesystem::exists(std::string(dir) + kRuleName, error)) continue;
    return diagnostic.substr(0, at) + " (the udev rule " + dir + kRuleName +
           " is in place: unplug the receiver and plug it in again; from a remote session, join the group "
           "plugdev and log in again)";
  }
  return diagnostic;
}

}  // namespace tolv::cli
