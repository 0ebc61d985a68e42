// Host names are looked up by the station, within the connect's time and
// its stop, and libpq is given each address with its name and port.
#include <gtest/gtest.h>
#include <poll.h>

#include <map>
#include <memory>

#include "linedb/host_lookup.h"

namespace {

AddressLookup Table(std::map<std::string, std::vector<std::string>> table) {
  return [table](const std::string& name, std::string& error) {
    const auto found = table.find(name);
    if (found == table.end()) error = "Name or service not known";
    return found != table.end() ? found->second : std::vector<std::string>{};
  };
}

SteadyTime Later() { return std::chrono::steady_clock::now() + std::chrono::minutes(1); }

}  // namespace

TEST(HostLookup, EachAddressOfEachHostGoesToLibpqWithItsNameAndPort) {
  const AddressLookup lookup = Table({{"db1", {"10.0.0.1", "10.0.0.2"}}, {"db2", {"::1"}}});
  struct Case {
    const char* hosts;
    const char* ports;
    bool substituted;
    const char* host;
    const char* hostaddr;
    const char* port;
    const char* error;
  } cases[] = {
      {"db1,/run/pg,db2", "5432", true, "db1,db1,/run/pg,db2", "10.0.0.1,10.0.0.2,,::1", "", ""},
      {"db1,/run/pg,db2", "1,2,3", true, "db1,db1,/run/pg,db2", "10.0.0.1,10.0.0.2,,::1", "1,1,2,3", ""},
      {"nowhere,db2", "", true, "db2", "::1", "", ""},  // another host is there to try
      {"nowhere", "", false, "", "", "",
       "could not translate host name \"nowhere\" to address: Name or service not known"},
      {"/run/pg,@abstract", "", false, "", "", "", ""},  // sockets: nothing to look up
      {"db1,db2", "1,2,3", false, "", "", "", ""},       // libpq refuses the mismatch itself
  };
  for (const Case& c : cases) {
    const HostLookup found = LookUpHosts(c.hosts, c.ports, -1, Later(), lookup);
    EXPECT_EQ(found.end, DescriptorWait::kReady) << c.hosts;
    EXPECT_EQ(found.error, c.error) << c.hosts;
    ASSERT_EQ(found.targets.has_value(), c.substituted) << c.hosts;
    if (!found.targets) continue;
    EXPECT_EQ(found.targets->host, c.host);
    EXPECT_EQ(found.targets->hostaddr, c.hostaddr);
    EXPECT_EQ(found.targets->port, c.port);
  }
}

TEST(HostLookup, NameServerThatDoesNotAnswerEndsAtTheDeadlineOrTheStop) {
  auto release = std::make_shared<Flag>();  // the lookups end with the test
  const AddressLookup hanging = [release](const std::string&, std::string&) {
    pollfd fd{release->Fd(), POLLIN, 0};
    poll(&fd, 1, -1);
    return std::vector<std::string>{"10.0.0.1"};
  };
  Flag stop;
  EXPECT_EQ(LookUpHosts("db1", "", stop.Fd(), std::chrono::steady_clock::now(), hanging).end,
            DescriptorWait::kTimedOut);
  stop.Set();
  const HostLookup stopped = LookUpHosts("db1", "", stop.Fd(), Later(), hanging);
  EXPECT_EQ(stopped.end, DescriptorWait::kStopped);
  EXPECT_FALSE(stopped.targets);
  release->Set();
}
