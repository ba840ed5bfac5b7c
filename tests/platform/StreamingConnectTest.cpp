// The streaming options for the input drivers we know, looked up through the real odbcinst.ini
// (setup installs the SQLite3 and PostgreSQL drivers) and a private odbc.ini for data sources.
#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/odbc/StreamingConnect.h"
#include "tests/support/TempDir.h"

namespace quillon::odbc {
namespace {

class StreamingConnect : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = new testing::TempDir();
    const auto file = *s_dir / "odbc.ini";
    std::ofstream(file) << "[LiteSource]\nDriver=SQLite3\nDatabase=/tmp/x.db\n\n"
                           "[LiteStepOff]\nDriver=SQLite3\nStepAPI=0\n\n"
                           "[PgSource]\nDriver=PostgreSQL Unicode\nServername=localhost\n\n"
                           "[PgByPath]\nDriver=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so\n\n"
                           "[PgFetchSet]\nDriver=PostgreSQL Unicode\nFetch=50\n\n"
                           "[PgDeclareOff]\nDriver=PostgreSQL ANSI\nusedeclarefetch=0\n\n"
                           "[PgDeclareOn]\nDriver=PostgreSQL ANSI\nB6=1\n";
    setenv("ODBCINI", file.c_str(), 1);
  }
  static void TearDownTestSuite() {
    unsetenv("ODBCINI");
    delete s_dir;
  }
  static inline testing::TempDir* s_dir = nullptr;
};

TEST_F(StreamingConnect, AddedForTheKnownDriversWhenTheConnectStringDoesNotChoose) {
  EXPECT_EQ(WithStreamingFetch(L"DRIVER=SQLite3;Database=/tmp/x.db"),
            L"StepAPI=1;NoCreat=1;DRIVER=SQLite3;Database=/tmp/x.db");
  EXPECT_EQ(WithStreamingFetch(L"ODBC;driver={SQLite3};Database=/tmp/x.db"),
            L"ODBC;StepAPI=1;NoCreat=1;driver={SQLite3};Database=/tmp/x.db");
  EXPECT_EQ(WithStreamingFetch(L"DRIVER={PostgreSQL Unicode};Servername=db;Database=sales"),
            L"UseDeclareFetch=1;Fetch=" + std::to_wstring(kPostgresFetchRows) +
                L";BoolsAsChar=0;DRIVER={PostgreSQL Unicode};Servername=db;Database=sales");
  EXPECT_EQ(WithStreamingFetch(L"DRIVER={PostgreSQL ANSI};Servername=db"),
            L"UseDeclareFetch=1;Fetch=" + std::to_wstring(kPostgresFetchRows) +
                L";BoolsAsChar=0;DRIVER={PostgreSQL ANSI};Servername=db");
  // A library path in place of a driver name.
  EXPECT_EQ(WithStreamingFetch(L"DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=a"),
            L"StepAPI=1;NoCreat=1;DRIVER=/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so;Database=a");
}

TEST_F(StreamingConnect, TheUsersChoiceStaysInTheConnectString) {
  for (const wchar_t* connect : {L"DRIVER=SQLite3;StepAPI=0;Database=/tmp/x.db", L"DRIVER=SQLite3;stepapi=1;Database=x",
                                 L"DRIVER={PostgreSQL Unicode};UseDeclareFetch=0;Servername=db",
                                 L"DRIVER={PostgreSQL Unicode};B6=0;Servername=db",
                                 L"DRIVER={PostgreSQL Unicode};USEDECLAREFETCH=1;Fetch=100;Servername=db"}) {
    const std::wstring_view only =
        std::wstring_view(connect).find(L"SQLite3") != std::wstring_view::npos ? L"NoCreat=1;" : L"BoolsAsChar=0;";
    EXPECT_EQ(WithStreamingFetch(connect), std::wstring(only) + connect);
  }
  // Statements that may write (quillon-sql's) may create a SQLite database.
  EXPECT_EQ(WithStreamingFetch(L"DRIVER=SQLite3;Database=x", SourceUse::ReadWrite),
            L"StepAPI=1;DRIVER=SQLite3;Database=x");
  EXPECT_EQ(WithStreamingFetch(L"DRIVER={PostgreSQL ANSI};B6=0", SourceUse::ReadWrite),
            L"BoolsAsChar=0;DRIVER={PostgreSQL ANSI};B6=0");
  // Creating a database, and booleans as text, stay possible when asked for.
  for (const wchar_t* connect : {L"DRIVER=SQLite3;StepAPI=1;nocreat=0;Database=x",
                                 L"DRIVER={PostgreSQL Unicode};B6=1;Fetch=9;BoolsAsChar=1;Servername=db",
                                 L"DRIVER={PostgreSQL ANSI};B6=0;B9=1;Servername=db"}) {
    EXPECT_EQ(WithStreamingFetch(connect), connect);
  }
  // The cursor switched on without a fetch size gets ours, not psqlodbc's 100 rows a round trip.
  EXPECT_EQ(WithStreamingFetch(L"DRIVER={PostgreSQL Unicode};USEDECLAREFETCH=1;Servername=db"),
            L"Fetch=" + std::to_wstring(kPostgresFetchRows) +
                L";BoolsAsChar=0;DRIVER={PostgreSQL Unicode};USEDECLAREFETCH=1;Servername=db");
  // A fetch size of the user's own turns the cursor on and keeps that size.
  EXPECT_EQ(WithStreamingFetch(L"DRIVER={PostgreSQL Unicode};Fetch=10;Servername=db"),
            L"UseDeclareFetch=1;BoolsAsChar=0;DRIVER={PostgreSQL Unicode};Fetch=10;Servername=db");
}

TEST_F(StreamingConnect, OtherDriversAndUnknownSourcesAreLeftAlone) {
  for (const wchar_t* connect : {L"DRIVER={Microsoft Excel Driver (*.xls)};DSN='';DBQ=/tmp/a;b.xls",
                                 L"ODBC;DRIVER={Microsoft Access Driver (*.mdb)};DSN='';DBQ=/tmp/a.mdb",
                                 L"DRIVER={No Such Driver};Database=x", L"DSN=NoSuchSource", L"", L"Database=x"}) {
    EXPECT_EQ(WithStreamingFetch(connect), connect);
  }
}

TEST_F(StreamingConnect, ADataSourceIsLookedUpWithItsDriverAndItsOwnSettings) {
  EXPECT_EQ(WithStreamingFetch(L"DSN=LiteSource"), L"StepAPI=1;NoCreat=1;DSN=LiteSource");
  EXPECT_EQ(
      WithStreamingFetch(L"DSN=PgSource;UID=me;PWD=x"),
      L"UseDeclareFetch=1;Fetch=" + std::to_wstring(kPostgresFetchRows) + L";BoolsAsChar=0;DSN=PgSource;UID=me;PWD=x");
  EXPECT_EQ(WithStreamingFetch(L"DSN=PgByPath"),
            L"UseDeclareFetch=1;Fetch=" + std::to_wstring(kPostgresFetchRows) + L";BoolsAsChar=0;DSN=PgByPath");
  EXPECT_EQ(WithStreamingFetch(L"DSN=PgFetchSet"), L"UseDeclareFetch=1;BoolsAsChar=0;DSN=PgFetchSet");
  EXPECT_EQ(WithStreamingFetch(L"DSN=LiteStepOff"), L"NoCreat=1;DSN=LiteStepOff");
  EXPECT_EQ(WithStreamingFetch(L"DSN=PgDeclareOff"), L"BoolsAsChar=0;DSN=PgDeclareOff");
  EXPECT_EQ(WithStreamingFetch(L"DSN=PgDeclareOn"),
            L"Fetch=" + std::to_wstring(kPostgresFetchRows) + L";BoolsAsChar=0;DSN=PgDeclareOn");
  // The connect string's own setting counts as much as the source's.
  EXPECT_EQ(WithStreamingFetch(L"DSN=LiteSource;StepAPI=0"), L"NoCreat=1;DSN=LiteSource;StepAPI=0");
}

}  // namespace
}  // namespace quillon::odbc
