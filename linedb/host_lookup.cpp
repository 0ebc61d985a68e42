#include "linedb/host_lookup.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>

namespace {

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1) {
    parts.push_back(list.substr(start, comma - start));
  }
  parts.push_back(list.substr(start));
  return parts;
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i > 0 ? "," : "") + parts[i];
  return out;
}

// An empty entry or a socket folder is reached without a lookup.
bool NeedsLookup(const std::string& host) {
  return !host.empty() && host.front() != '/' && host.front() != '@';
}

// Filled by the lookup's thread, read once it says it is done.
struct Lookups {
  std::mutex mutex;
  std::vector<std::vector<std::string>> addresses;
  std::vector<std::string> errors;
  Flag done;
};

}  // namespace

std::vector<std::string> SystemAddressLookup(const std::string& name, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (status != 0) {
    error = gai_strerror(status);
    return {};
  }
  std::vector<std::string> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    char text[NI_MAXHOST];
    if (getnameinfo(entry->ai_addr, entry->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0 &&
        std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
      addresses.push_back(text);
    }
  }
  freeaddrinfo(found);
  if (addresses.empty()) error = "no address";
  return addresses;
}

HostLookup LookUpHosts(const std::string& hosts, const std::string& ports, int stopFd,
                       SteadyTime deadline, const AddressLookup& lookup) {
  const std::vector<std::string> names = SplitList(hosts);
  const std::vector<std::string> portList = SplitList(ports);
  HostLookup outcome;
  // A port list that does not match is libpq's to refuse.
  if (std::none_of(names.begin(), names.end(), NeedsLookup) ||
      (portList.size() > 1 && portList.size() != names.size())) {
    return outcome;
  }
  auto lookups = std::make_shared<Lookups>();
  lookups->addresses.resize(names.size());
  lookups->errors.resize(names.size());
  try {
    std::thread([lookups, names, lookup] {
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (!NeedsLookup(names[i])) continue;
        std::string error;
        std::vector<std::string> addresses = lookup(names[i], error);
        std::lock_guard lock(lookups->mutex);
        lookups->addresses[i] = std::move(addresses);
        lookups->errors[i] = std::move(error);
      }
      lookups->done.Set();
    }).detach();
  } catch (const std::system_error& error) {
    outcome.error = std::string("no thread to look up the host names: ") + error.what();
    return outcome;
  }
  outcome.end = WaitForDescriptor(lookups->done.Fd(), POLLIN, stopFd, deadline);
  if (outcome.end != DescriptorWait::kReady) return outcome;

  std::lock_guard lock(lookups->mutex);
  std::vector<std::string> host, hostaddr, port;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& hostPort = portList.size() > 1 ? portList[i] : portList.front();
    const std::vector<std::string> addresses =
        NeedsLookup(names[i]) ? lookups->addresses[i] : std::vector<std::string>{""};
    if (addresses.empty() && outcome.error.empty()) {
      outcome.error = "could not translate host name \"" + names[i] + "\" to address: " + lookups->errors[i];
    }
    for (const std::string& address : addresses) {
      host.push_back(names[i]);
      hostaddr.push_back(address);
      port.push_back(hostPort);
    }
  }
  if (host.empty()) return outcome;
  outcome.error.clear();  // another host is there to try
  outcome.targets = HostTargets{Joined(host), Joined(hostaddr), portList.size() > 1 ? Joined(port) : ""};
  return outcome;
}
