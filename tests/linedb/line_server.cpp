#include "line_server.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <fstream>

#include "linedb/pg_connection.h"

std::string LineServerHost() {
  const char* state = getenv("TAMSOLT_LINEDB_SERVER_STATE");
  std::string host;
  if (state != nullptr) std::getline(std::ifstream(state), host);
  EXPECT_FALSE(host.empty()) << "no test server: run through ctest (fixture linedb.server.start)";
  return host;
}

std::string LineUrl(const std::string& dbname, const std::string& user) {
  return "host=" + LineServerHost() + " dbname=" + dbname + " user=" + user;
}

std::string FreshLineDatabase() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("t_") + test->test_suite_name() + "_" + test->name();
  for (char& c : name) {
    c = isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(tolower(c)) : '_';
  }
  name = name.substr(0, 60);
  PgConnection admin(LineUrl("postgres"));
  EXPECT_TRUE(admin.Ok()) << admin.Error();
  // Names of our own tests, not input: safe to put into the statement.
  EXPECT_TRUE(admin.ExecScript(("DROP DATABASE IF EXISTS " + name).c_str())) << admin.Error();
  EXPECT_TRUE(admin.ExecScript(("CREATE DATABASE " + name).c_str())) << admin.Error();
  return LineUrl(name);
}

std::vector<std::string> QueryRows(const std::string& url, const std::string& sql) {
  PgConnection db(url);
  PgResult result = db.Exec(sql.c_str());
  EXPECT_TRUE(result) << sql << ": " << db.Error();
  std::vector<std::string> rows;
  for (int row = 0; result && row < PQntuples(result.get()); ++row) {
    std::string line;
    for (int column = 0; column < PQnfields(result.get()); ++column) {
      line += (column ? "|" : "") + std::string(PQgetvalue(result.get(), row, column));
    }
    rows.push_back(line);
  }
  return rows;
}
