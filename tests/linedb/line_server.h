// The test suite's PostgreSQL (pg_server.sh, started once per ctest run): a
// fresh database on it per test, and queries for the checks.
#pragma once

#include <string>
#include <vector>

// The socket folder of the running test server; fails the test when absent.
std::string LineServerHost();

// Creates (anew) a database named after the running test; returns its
// connection string as the superuser.
std::string FreshLineDatabase();

// A connection string on the test server for dbname and user.
std::string LineUrl(const std::string& dbname, const std::string& user = "postgres");

// The tables of url at version 1 (linedb/schema.sql alone, as the first
// stations made them) and the station role of linedb/station_role.sql;
// returns url's connection string as that role.
std::string StationRoleOnVersion1(const std::string& url);

// Every row of a query (no values), each row's columns joined by '|'.
std::vector<std::string> QueryRows(const std::string& url, const std::string& sql);

// A socket folder of its own through which the test server can be reached
// or not: Down() is what a stopped server or a cut network looks like to a
// station (no server answers), Up() brings it back. Starts down.
class SwitchableServer {
 public:
  SwitchableServer();
  ~SwitchableServer();
  SwitchableServer(const SwitchableServer&) = delete;
  SwitchableServer& operator=(const SwitchableServer&) = delete;

  // The connection string of url (from FreshLineDatabase) through this folder.
  std::string Through(const std::string& url) const;
  void Up();
  void Down();

 private:
  std::string folder_;
};
