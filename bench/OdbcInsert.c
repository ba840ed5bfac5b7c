/* A program of a user's that copies the benchmark's Orders table into a file through the
 * Quillon ODBC driver, as any ODBC program does: both ends through the driver manager (libodbc),
 * the rows fetched from the source a block at a time into column-wise arrays and sent on from
 * the same arrays as a parameter array of one prepared INSERT (SQL_ATTR_PARAMSET_SIZE), with
 * autocommit off and a single commit at the end. Into an .xls file, whose sheet holds at most
 * 65535 rows, it goes on in a further table as quillon-export does (the name with _Sheet0 added),
 * fetching no block across the change.
 *
 *   odbc_insert_orders SOURCE_CONNECT_STRING OUTPUT_FILE
 *   odbc_insert_orders --make ROWS OUTPUT_FILE
 *
 * The second form makes the rows itself, the values the benchmark fills its Orders table with,
 * as a program that loads its own data does: then only the driver's work is timed.
 *
 * DRIVER={Quillon} must be registered where the driver manager looks (the benchmark registers it
 * in a private odbcinst.ini through ODBCSYSINI). Prints the rows copied, the rows of an array and
 * the seconds spent in the source's fetches, in the driver's executions and in its commit; exits 1
 * on any error, after printing the diagnostics. */
#include <sql.h>
#include <sqlext.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum {
  kBatchRows = 4000,   /* rows per fetch and per SQLExecute */
  kUtf8Bytes = 4,      /* the most bytes one character takes in UTF-8 */
  kCustomerChars = 40, /* the columns' lengths in CREATE TABLE */
  kNoteChars = 100,
  kConnectBytes = 4096,
  kMessageBytes = 1024,
  kStatementBytes = 1024,
  kXlsSheetRows = 65535 /* the rows an .xls sheet holds under its header */
};

static const char kCreateTable[] =
    "CREATE TABLE %s (OrderID INTEGER, Customer VARCHAR(40), OrderDate TIMESTAMP, Quantity SMALLINT, "
    "Price DOUBLE, Shipped BIT, Note VARCHAR(100))";
static const char kSelect[] = "SELECT * FROM Orders";
static const char kInsert[] = "INSERT INTO %s VALUES(?, ?, ?, ?, ?, ?, ?)";
static const char kTable[] = "Orders";
static const char kFurtherTableSuffix[] = "_Sheet0";
static const char kXlsExtension[] = ".xls";

/* One block of rows, column by column, with a length or indicator for every value. */
struct Block {
  SQLINTEGER orderId[kBatchRows];
  SQLCHAR customer[kBatchRows][kCustomerChars * kUtf8Bytes + 1];
  SQL_TIMESTAMP_STRUCT orderDate[kBatchRows];
  SQLSMALLINT quantity[kBatchRows];
  SQLDOUBLE price[kBatchRows];
  SQLCHAR shipped[kBatchRows];
  SQLCHAR note[kBatchRows][kNoteChars * kUtf8Bytes + 1];
  SQLLEN lengths[7][kBatchRows];
};

/* How each column is bound on both ends. */
struct Column {
  SQLSMALLINT cType;
  SQLSMALLINT sqlType;
  SQLULEN size;
  size_t offset;
  SQLLEN bufferLength;
};

static const struct Column kColumns[] = {
    {SQL_C_SLONG, SQL_INTEGER, 10, offsetof(struct Block, orderId), sizeof(SQLINTEGER)},
    {SQL_C_CHAR, SQL_VARCHAR, kCustomerChars, offsetof(struct Block, customer), kCustomerChars* kUtf8Bytes + 1},
    {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 19, offsetof(struct Block, orderDate), sizeof(SQL_TIMESTAMP_STRUCT)},
    {SQL_C_SSHORT, SQL_SMALLINT, 5, offsetof(struct Block, quantity), sizeof(SQLSMALLINT)},
    {SQL_C_DOUBLE, SQL_DOUBLE, 15, offsetof(struct Block, price), sizeof(SQLDOUBLE)},
    {SQL_C_BIT, SQL_BIT, 1, offsetof(struct Block, shipped), 1},
    {SQL_C_CHAR, SQL_VARCHAR, kNoteChars, offsetof(struct Block, note), kNoteChars* kUtf8Bytes + 1},
};
enum { kColumnCount = sizeof kColumns / sizeof kColumns[0] };

/* Days in each month of 2020, the year the Orders dates fall in. */
static const int kDaysIn2020[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
enum { kMinutesPerDay = 1440, kMinutesPerHour = 60, kDateMinutes = 100000, kCustomers = 997, kPriceChars = 32 };

/* Row `i` (from 1) of the Orders table as the benchmark fills it into row `r` of the block:
 * i, 'Customer ' || (i % 997), 2020-01-01 plus i % 100000 minutes, i % 300, (i % 10000) / 7.0,
 * i % 2, and 'Zoë''s note ' || i for every fifth row (NULL otherwise): the values a program
 * reading the table gets. */
static void MakeRow(struct Block* block, long i, int r) {
  block->orderId[r] = (SQLINTEGER)i;
  block->lengths[0][r] = sizeof(SQLINTEGER);
  block->lengths[1][r] = snprintf((char*)block->customer[r], sizeof block->customer[r], "Customer %ld", i % kCustomers);
  long minutes = i % kDateMinutes, day = minutes / kMinutesPerDay;
  int month = 0;
  while (day >= kDaysIn2020[month]) day -= kDaysIn2020[month++];
  minutes %= kMinutesPerDay;
  const SQL_TIMESTAMP_STRUCT date = {2020,
                                     (SQLUSMALLINT)(month + 1),
                                     (SQLUSMALLINT)(day + 1),
                                     (SQLUSMALLINT)(minutes / kMinutesPerHour),
                                     (SQLUSMALLINT)(minutes % kMinutesPerHour),
                                     0,
                                     0};
  block->orderDate[r] = date;
  block->lengths[2][r] = sizeof date;
  block->quantity[r] = (SQLSMALLINT)(i % 300);
  block->lengths[3][r] = sizeof(SQLSMALLINT);
  /* As the SQLite3 driver delivers a REAL: through SQLite's text of 15 significant digits. */
  char price[kPriceChars];
  snprintf(price, sizeof price, "%.15g", (double)(i % 10000) / 7.0);
  block->price[r] = strtod(price, NULL);
  block->lengths[4][r] = sizeof(SQLDOUBLE);
  block->shipped[r] = (SQLCHAR)(i % 2);
  block->lengths[5][r] = 1;
  block->lengths[6][r] =
      i % 5 == 0 ? snprintf((char*)block->note[r], sizeof block->note[r], "Zo\xc3\xab's note %ld", i) : SQL_NULL_DATA;
}

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* Prints the handle's diagnostics after a failed call, and fails the program. */
static int Check(SQLRETURN result, SQLSMALLINT type, SQLHANDLE handle, const char* what) {
  if (SQL_SUCCEEDED(result) || result == SQL_NO_DATA) return 1;
  fprintf(stderr, "%s failed (%d)\n", what, (int)result);
  SQLCHAR state[6], message[kMessageBytes];
  SQLINTEGER native = 0;
  for (SQLSMALLINT record = 1;
       SQLGetDiagRec(type, handle, record, state, &native, message, sizeof message, NULL) == SQL_SUCCESS; ++record) {
    fprintf(stderr, "  %s (%d): %s\n", (const char*)state, (int)native, (const char*)message);
  }
  return 0;
}

/* Creates `table` and prepares the INSERT of its rows. */
static int StartTable(SQLHSTMT insert, const char* table) {
  char statement[kStatementBytes];
  snprintf(statement, sizeof statement, kCreateTable, table);
  if (!Check(SQLExecDirect(insert, (SQLCHAR*)statement, SQL_NTS), SQL_HANDLE_STMT, insert, statement)) return 0;
  snprintf(statement, sizeof statement, kInsert, table);
  return Check(SQLPrepare(insert, (SQLCHAR*)statement, SQL_NTS), SQL_HANDLE_STMT, insert, statement);
}

static int Connect(SQLHENV env, SQLHDBC* dbc, const char* connect) {
  if (!Check(SQLAllocHandle(SQL_HANDLE_DBC, env, dbc), SQL_HANDLE_ENV, env, "SQLAllocHandle")) return 0;
  return Check(SQLDriverConnect(*dbc, NULL, (SQLCHAR*)connect, SQL_NTS, NULL, 0, NULL, SQL_DRIVER_NOPROMPT),
               SQL_HANDLE_DBC, *dbc, connect);
}

int main(int argc, char** argv) {
  const int making = argc == 4 && strcmp(argv[1], "--make") == 0;
  if (argc != 3 && !making) {
    fprintf(stderr, "usage: %s SOURCE_CONNECT_STRING OUTPUT_FILE\n       %s --make ROWS OUTPUT_FILE\n", argv[0],
            argv[0]);
    return 2;
  }
  const long toMake = making ? atol(argv[2]) : 0;
  const char* outputFile = argv[argc - 1];
  char target[kConnectBytes], table[kStatementBytes];
  snprintf(target, sizeof target, "DRIVER={Quillon};DBQ=%s", outputFile);
  snprintf(table, sizeof table, "%s", kTable);
  const size_t pathLength = strlen(outputFile), extensionLength = strlen(kXlsExtension);
  const long rowsPerTable =
      pathLength >= extensionLength && strcmp(outputFile + pathLength - extensionLength, kXlsExtension) == 0
          ? kXlsSheetRows
          : 0;
  long inTable = 0;
  SQLULEN arraySize = kBatchRows;
  struct Block* block = calloc(1, sizeof *block);
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC source = SQL_NULL_HDBC, output = SQL_NULL_HDBC;
  SQLHSTMT select = SQL_NULL_HSTMT, insert = SQL_NULL_HSTMT;
  SQLULEN fetched = 0;
  long rows = 0;
  double fetchSeconds = 0, executeSeconds = 0, commitSeconds = 0;
  int ok = block != NULL && SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)) &&
           SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0)) &&
           (making || Connect(env, &source, argv[1])) && Connect(env, &output, target) &&
           Check(SQLSetConnectAttr(output, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0), SQL_HANDLE_DBC,
                 output, "autocommit off") &&
           Check(SQLAllocHandle(SQL_HANDLE_STMT, output, &insert), SQL_HANDLE_DBC, output, "SQLAllocHandle") &&
           StartTable(insert, table);
  if (ok && !making) {
    ok = Check(SQLAllocHandle(SQL_HANDLE_STMT, source, &select), SQL_HANDLE_DBC, source, "SQLAllocHandle") &&
         Check(SQLSetStmtAttr(select, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)arraySize, 0), SQL_HANDLE_STMT, select,
               "SQL_ATTR_ROW_ARRAY_SIZE") &&
         Check(SQLSetStmtAttr(select, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, select,
               "SQL_ATTR_ROWS_FETCHED_PTR") &&
         Check(SQLExecDirect(select, (SQLCHAR*)kSelect, SQL_NTS), SQL_HANDLE_STMT, select, kSelect);
  }
  for (int c = 0; ok && c < kColumnCount; ++c) {
    const struct Column* column = &kColumns[c];
    SQLPOINTER values = (char*)block + column->offset;
    ok = (making || Check(SQLBindCol(select, (SQLUSMALLINT)(c + 1), column->cType, values, column->bufferLength,
                                     block->lengths[c]),
                          SQL_HANDLE_STMT, select, "SQLBindCol")) &&
         Check(SQLBindParameter(insert, (SQLUSMALLINT)(c + 1), SQL_PARAM_INPUT, column->cType, column->sqlType,
                                column->size, 0, values, column->bufferLength, block->lengths[c]),
               SQL_HANDLE_STMT, insert, "SQLBindParameter");
  }
  while (ok) {
    /* A block ends where the table does; the one after it starts the next table. */
    SQLULEN wanted = kBatchRows;
    if (rowsPerTable != 0 && inTable < rowsPerTable && rowsPerTable - inTable < kBatchRows)
      wanted = (SQLULEN)(rowsPerTable - inTable);
    if (wanted != arraySize) {
      arraySize = wanted;
      ok = making || Check(SQLSetStmtAttr(select, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)arraySize, 0), SQL_HANDLE_STMT,
                           select, "SQL_ATTR_ROW_ARRAY_SIZE");
      if (!ok) break;
    }
    double start = Now();
    if (making) {
      fetched = 0;
      for (; fetched < arraySize && rows + (long)fetched < toMake; ++fetched)
        MakeRow(block, rows + (long)fetched + 1, (int)fetched);
      fetchSeconds += Now() - start;
      if (fetched == 0) break;
    } else {
      const SQLRETURN got = SQLFetch(select);
      fetchSeconds += Now() - start;
      if (got == SQL_NO_DATA) break;
      ok = Check(got, SQL_HANDLE_STMT, select, "SQLFetch");
      if (!ok) break;
    }
    SQLLEN inserted = 0;
    start = Now();
    if (rowsPerTable != 0 && inTable == rowsPerTable) {
      strncat(table, kFurtherTableSuffix, sizeof table - strlen(table) - 1);
      inTable = 0;
      ok = StartTable(insert, table);
    }
    ok = ok &&
         Check(SQLSetStmtAttr(insert, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)fetched, 0), SQL_HANDLE_STMT, insert,
               "SQL_ATTR_PARAMSET_SIZE") &&
         Check(SQLExecute(insert), SQL_HANDLE_STMT, insert, "SQLExecute") &&
         Check(SQLRowCount(insert, &inserted), SQL_HANDLE_STMT, insert, "SQLRowCount");
    executeSeconds += Now() - start;
    rows += (long)inserted;
    inTable += (long)inserted;
  }
  if (ok) {
    const double start = Now();
    ok = Check(SQLEndTran(SQL_HANDLE_DBC, output, SQL_COMMIT), SQL_HANDLE_DBC, output, "SQLEndTran");
    commitSeconds = Now() - start;
  }
  if (insert != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, insert);
  if (select != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, select);
  if (output != SQL_NULL_HDBC) {
    if (ok) ok = Check(SQLDisconnect(output), SQL_HANDLE_DBC, output, "SQLDisconnect");
    SQLFreeHandle(SQL_HANDLE_DBC, output);
  }
  if (source != SQL_NULL_HDBC) {
    SQLDisconnect(source);
    SQLFreeHandle(SQL_HANDLE_DBC, source);
  }
  if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  free(block);
  if (!ok) return 1;
  printf("rows %ld array %d fetch %.3f execute %.3f commit %.3f\n", rows, kBatchRows, fetchSeconds, executeSeconds,
         commitSeconds);
  return 0;
}
