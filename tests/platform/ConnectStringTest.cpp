#include <gtest/gtest.h>

#include "platform/odbc/ConnectString.h"

namespace quillon::odbc {
namespace {

TEST(ConnectString, KeysInAnyCaseValuesBracedOrQuoted) {
  const auto cs = ConnectString::Parse(
      L"ODBC;driver={Microsoft Excel Driver (*.xls)};DSN='';"
      L"FirstRowHasNames=1;CREATE_DB=\"/tmp/a b.xls\";Weird={a}}b;c}");
  EXPECT_EQ(cs.Get(L"DRIVER"), L"Microsoft Excel Driver (*.xls)");
  EXPECT_EQ(cs.Get(L"dsn"), L"''");
  EXPECT_EQ(cs.Get(L"FIRSTROWHASNAMES"), L"1");
  EXPECT_EQ(cs.Get(L"create_db"), L"/tmp/a b.xls");
  EXPECT_EQ(cs.Get(L"WEIRD"), L"a}b;c");
  EXPECT_FALSE(cs.Get(L"DBQ").has_value());
}

TEST(ConnectString, DatabasePathRunsToTheEndWhateverItHolds) {
  const std::wstring path = L"/data/x;y=z/{odd} \"name\".xls";
  const auto cs = ConnectString::Parse(
      L"DRIVER={Microsoft Excel Driver (*.xls)};DSN='';FIRSTROWHASNAMES=1;"
      L"READONLY=FALSE;CREATE_DB=\"" +
      path + L"\";DBQ=" + path);
  EXPECT_EQ(cs.Get(L"DBQ"), path);
  EXPECT_EQ(cs.Get(L"READONLY"), L"FALSE");
  // A braced path is unbraced.
  EXPECT_EQ(ConnectString::Parse(L"DBQ={/a;b.mdb}").Get(L"dbq"), L"/a;b.mdb");
}

TEST(ConnectString, PasswordsAreMaskedWhereverTheyStand) {
  EXPECT_EQ(MaskPassword(L"ODBC;DSN=x;UID=me;PWD=secret;Port=1"), L"ODBC;DSN=x;UID=me;PWD=********;Port=1");
  EXPECT_EQ(MaskPassword(L"Password={a;b}};c};Server=s"), L"Password=********;Server=s");
  EXPECT_EQ(MaskPassword(L"DRIVER=SQLite3;Database=/tmp/d.db"), L"DRIVER=SQLite3;Database=/tmp/d.db");
  // An empty password stays empty: nothing to hide.
  EXPECT_EQ(MaskPassword(L"UID=a;PWD=;X=1"), L"UID=a;PWD=;X=1");
}

}  // namespace
}  // namespace quillon::odbc
