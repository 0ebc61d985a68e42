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

// Every row of a query (no values), each row's columns joined by '|'.
std::vector<std::string> QueryRows(const std::string& url, const std::string& sql);
