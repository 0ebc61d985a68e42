// Host names of a connection string looked up before libpq connects, within
// the connect's deadline and the stop descriptor: libpq would look them up
// itself with a blocking call that no time-out covers, so a resolver that does
// not answer would hold the station for its own time-outs.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "linedb/fd_wait.h"

// What libpq is given instead of names: each address of each host (hostaddr),
// with its name kept in host (for ~/.pgpass and TLS) and the port list
// repeated to match when it names a port per host (empty: leave it as it is).
struct HostTargets {
  std::string host;
  std::string hostaddr;
  std::string port;
};

// The numeric addresses of a name; error set when there are none.
using AddressLookup = std::function<std::vector<std::string>(const std::string& name, std::string& error)>;
// getaddrinfo, as libpq would call it.
std::vector<std::string> SystemAddressLookup(const std::string& name, std::string& error);

struct HostLookup {
  DescriptorWait end = DescriptorWait::kReady;
  // None: nothing to look up (socket folders, hostaddr given, a service
  // file), or no host had an address (error says why).
  std::optional<HostTargets> targets;
  std::string error;
};

// hosts and ports are libpq's comma-separated lists. The lookup runs on a
// thread of its own; one not done by deadline or by stopFd is left to end
// on that thread, and its answer is dropped.
HostLookup LookUpHosts(const std::string& hosts, const std::string& ports, int stopFd,
                       SteadyTime deadline, const AddressLookup& lookup = SystemAddressLookup);
