#include "host/DemoDatabase.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/odbc/Database.h"

namespace quillon::host {
namespace {

// Every column type the statement builders map appears here: INTEGER, SMALLINT, TINYINT,
// VARCHAR, TEXT (long text), DOUBLE, NUMERIC and DECIMAL, BIT, DATE, TIMESTAMP, BIGINT, BLOB.
// (The SQLite driver reports REAL and NUMERIC columns as DOUBLE and DECIMAL ones as VARCHAR.)
constexpr const wchar_t* kSchema[] = {
    L"CREATE TABLE Customers (CustomerID INTEGER PRIMARY KEY, CompanyName VARCHAR(60) NOT NULL, "
    L"ContactName VARCHAR(40), City VARCHAR(30), Country VARCHAR(30), CreditLimit DECIMAL(12,2), "
    L"IsActive BIT, CustomerSince DATE, Notes TEXT)",
    L"CREATE TABLE Products (ProductID INTEGER PRIMARY KEY, ProductName VARCHAR(50) NOT NULL, "
    L"Category VARCHAR(30), UnitPrice DOUBLE, UnitsInStock SMALLINT, Discontinued BIT, Barcode BIGINT, "
    L"Thumbnail BLOB)",
    L"CREATE TABLE Orders (OrderID INTEGER PRIMARY KEY, CustomerID INTEGER REFERENCES Customers, "
    L"OrderDate TIMESTAMP, ShipDate DATE, Priority TINYINT, Freight NUMERIC(10,2), ShipCity VARCHAR(30), "
    L"Comment TEXT)",
    L"CREATE TABLE OrderLines (LineID INTEGER PRIMARY KEY, OrderID INTEGER REFERENCES Orders, "
    L"ProductID INTEGER REFERENCES Products, Quantity SMALLINT, UnitPrice DOUBLE, Discount REAL)",
    L"CREATE VIEW OrderSummary AS SELECT o.OrderID, c.CompanyName, c.Country, o.OrderDate, "
    L"SUM(l.Quantity * l.UnitPrice * (1 - l.Discount)) AS Total FROM Orders o "
    L"JOIN Customers c ON c.CustomerID = o.CustomerID JOIN OrderLines l ON l.OrderID = o.OrderID "
    L"GROUP BY o.OrderID, c.CompanyName, c.Country, o.OrderDate",
};

constexpr const wchar_t* kCustomers[] = {
    L"INSERT INTO Customers VALUES (1, 'Müller & Söhne GmbH', 'Jürgen Müller', 'München', 'Germany', 25000.00, 1, "
    L"'2015-04-01', 'Prefers delivery before 10:00. Invoices in EUR.')",
    L"INSERT INTO Customers VALUES (2, 'O''Neill''s Pub & Grill', 'Siobhán O''Neill', 'Dublin', 'Ireland', "
    L"5000.00, 1, '2018-11-23', 'Ring the bell twice; the \"back door\" is at the lane.')",
    L"INSERT INTO Customers VALUES (3, 'Ærøskøbing Handel ApS', 'Søren Kjær', 'Ærøskøbing', 'Denmark', 12500.50, "
    L"0, '2012-02-29', NULL)",
    L"INSERT INTO Customers VALUES (4, 'Москва Трейдинг', 'Анна Петрова', 'Москва', 'Russia', 40000.00, 1, "
    L"'2020-07-15', 'Документы на русском языке.')",
    L"INSERT INTO Customers VALUES (5, '東京商事株式会社', '佐藤 花子', '東京', 'Japan', 75000.00, 1, '2009-01-05', "
    L"'年末は休業 \U0001F38D')",
    L"INSERT INTO Customers VALUES (6, 'Café Zoë', 'Zoë Lefèvre', 'Besançon', 'France', NULL, 1, '2021-03-01', "
    L"'Orders by phone only. Très sympa \U0001F600')",
    L"INSERT INTO Customers VALUES (7, 'Ελληνικά Τρόφιμα ΑΕ', 'Γιώργος Παπαδόπουλος', 'Αθήνα', 'Greece', 8000.00, "
    L"1, '2016-09-09', NULL)",
    L"INSERT INTO Customers VALUES (8, 'NULL Industries', 'Null', 'Springfield', 'USA', 0, 0, NULL, 'NULL')",
};

constexpr const wchar_t* kProducts[] = {
    L"INSERT INTO Products VALUES (1, 'Darjeeling First Flush', 'Tea', 18.5, 120, 0, 4006381333931, X'89504E47')",
    L"INSERT INTO Products VALUES (2, 'Crème brûlée mix', 'Desserts', 4.25, 0, 1, 3017620422003, NULL)",
    L"INSERT INTO Products VALUES (3, 'Smørrebrød rye bread', 'Bakery', 3.1, 45, 0, 5701234567892, X'FFD8FFE0')",
    L"INSERT INTO Products VALUES (4, 'Matcha 抹茶 premium', 'Tea', 32.0, 12, 0, 4901234567894, NULL)",
    L"INSERT INTO Products VALUES (5, 'Olive oil \"Extra Virgin\" 1 l', 'Pantry', 9.99, 300, 0, 5201234567891, NULL)",
    L"INSERT INTO Products VALUES (6, 'Sirop d''érable', 'Pantry', 12.75, 64, 0, 627843123456, NULL)",
    L"INSERT INTO Products VALUES (7, 'Пряники тульские', 'Bakery', 2.5, 210, 0, 4601234567893, NULL)",
    L"INSERT INTO Products VALUES (8, 'Gift box \U0001F381 deluxe', 'Gifts', 49.0, 8, 0, 9999999999999, X'00')",
};

// Orders and their lines, generated so that the demo shows an export spreading over sheets.
constexpr const wchar_t* kGeneratedRows[] = {
    L"INSERT INTO Orders (OrderID, CustomerID, OrderDate, ShipDate, Priority, Freight, ShipCity, Comment) "
    L"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 18000) "
    L"SELECT i, 1 + (i * 7) % 8, "
    L"strftime('%Y-%m-%d %H:%M:%S', '2020-01-01', '+' || ((i * 97) % 1826) || ' days', "
    L"'+' || ((i * 3607) % 86400) || ' seconds'), "
    L"date('2020-01-01', '+' || ((i * 97) % 1826 + 2 + i % 5) || ' days'), i % 3, "
    L"round(4.5 + (i % 250) * 0.37, 2), "
    L"CASE i % 4 WHEN 0 THEN 'München' WHEN 1 THEN 'Dublin' WHEN 2 THEN '東京' ELSE 'Besançon' END, "
    L"CASE WHEN i % 10 = 0 THEN 'Gift wrap, please' WHEN i % 17 = 0 THEN 'Customer''s own courier' ELSE NULL END "
    L"FROM n",
    L"INSERT INTO OrderLines (LineID, OrderID, ProductID, Quantity, UnitPrice, Discount) "
    L"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 72000) "
    L"SELECT i, 1 + (i - 1) / 4, 1 + (i * 5) % 8, 1 + (i * 13) % 40, "
    L"(SELECT UnitPrice FROM Products WHERE ProductID = 1 + (i * 5) % 8), "
    L"CASE WHEN i % 9 = 0 THEN 0.1 WHEN i % 25 = 0 THEN 0.25 ELSE 0 END FROM n",
};

void ExecuteAll(odbc::CDatabase& db, const auto& statements) {
  for (const wchar_t* statement : statements) db.ExecuteSQL(statement);
}

}  // namespace

std::filesystem::path DemoDatabasePath() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  std::filesystem::path base;
  if (dataHome != nullptr && *dataHome == '/') {
    base = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home != nullptr && *home != '\0' ? home : "/tmp") / ".local" / "share";
  }
  return base / "quillon" / "demo.db";
}

std::wstring SqliteConnectString(const std::filesystem::path& path) {
  // StepAPI: the driver hands out rows as SQLite steps through them, instead of loading the
  // whole result first, so that exporting a large table takes no more memory than a small one.
  return L"DRIVER=SQLite3;StepAPI=1;Database=" + path.wstring();
}

std::wstring EnsureDemoDatabase(const std::filesystem::path& path) {
  if (std::filesystem::exists(path)) return SqliteConnectString(path);
  std::filesystem::create_directories(path.parent_path());
  const std::filesystem::path building = path.string() + ".building-" + std::to_string(getpid());
  std::filesystem::remove(building);
  try {
    odbc::CDatabase db;
    db.OpenEx(SqliteConnectString(building), odbc::CDatabase::noOdbcDialog);
    db.ExecuteSQL(L"BEGIN");
    ExecuteAll(db, kSchema);
    ExecuteAll(db, kCustomers);
    ExecuteAll(db, kProducts);
    ExecuteAll(db, kGeneratedRows);
    db.ExecuteSQL(L"COMMIT");
    db.Close();
    std::filesystem::rename(building, path);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(building, ignored);
    throw;
  }
  return SqliteConnectString(path);
}

}  // namespace quillon::host
