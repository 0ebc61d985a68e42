#include "line_server.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

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

std::string StationRoleOnVersion1(const std::string& url) {
  PgConnection admin(url);
  std::stringstream schema, rights;
  schema << std::ifstream(TAMSOLT_SOURCE_DIR "/linedb/schema.sql").rdbuf();
  rights << std::ifstream(TAMSOLT_SOURCE_DIR "/linedb/station_role.sql").rdbuf();
  // The role is the server's: tests running at once may both create it.
  EXPECT_TRUE(admin.ExecScript("DO $$ BEGIN CREATE ROLE tamsolt_station LOGIN;"
                               " EXCEPTION WHEN duplicate_object OR unique_violation THEN END $$"))
      << admin.Error();
  EXPECT_TRUE(admin.ExecScript(schema.str().c_str())) << admin.Error();
  EXPECT_TRUE(admin.ExecScript(rights.str().c_str())) << admin.Error();
  return url.substr(0, url.find(" user=")) + " user=tamsolt_station";
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

namespace {
constexpr const char* kSocketName = "/.s.PGSQL.5432";
}  // namespace

SwitchableServer::SwitchableServer() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tamsolt-socket-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "no temporary folder";
  folder_ = pattern;
}

SwitchableServer::~SwitchableServer() {
  std::error_code error;
  std::filesystem::remove_all(folder_, error);
}

std::string SwitchableServer::Through(const std::string& url) const {
  const std::string host = "host=" + LineServerHost();
  const std::size_t at = url.find(host);
  EXPECT_NE(at, std::string::npos) << url;
  return std::string(url).replace(at, host.size(), "host=" + folder_);
}

void SwitchableServer::Up() {
  std::error_code error;
  std::filesystem::create_symlink(LineServerHost() + kSocketName, folder_ + kSocketName, error);
  EXPECT_FALSE(error) << error.message();
}

void SwitchableServer::Down() {
  std::error_code error;
  std::filesystem::remove(folder_ + kSocketName, error);
  EXPECT_FALSE(error) << error.message();
}
