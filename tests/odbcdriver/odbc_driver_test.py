"""libquillonodbc.so through the real driver manager: isql, pyodbc and ctypes calls into libodbc,
the files read back by mdbtools and xlrd. The driver is registered in a private odbcinst.ini
(ODBCSYSINI), never in /etc. Run: odbc_driver_test.py LIBRARY [unittest arguments]."""
import csv
import ctypes
import datetime
import io
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

LIBRARY = sys.argv.pop(1)
SQL_TC_ALL = 2
SKIP = 77  # CTest's SKIP_RETURN_CODE when a reader is missing (a failure under CI=true)

try:
    import pyodbc
    import xlrd
except ImportError as missing:
    print(f"skipped: {missing}")
    sys.exit(1 if os.environ.get("CI") == "true" else SKIP)
for tool in ("isql", "mdb-export", "mdb-tables"):
    if shutil.which(tool) is None:
        print(f"skipped: {tool} is missing")
        sys.exit(1 if os.environ.get("CI") == "true" else SKIP)

HOME = tempfile.mkdtemp(prefix="quillon-odbc-")
os.environ["ODBCSYSINI"] = HOME
os.environ["ODBCINI"] = os.path.join(HOME, "odbc.ini")
with open(os.path.join(HOME, "odbcinst.ini"), "w") as f:
    f.write(f"[Quillon]\nDriver = {LIBRARY}\n")

COLUMNS = "i INTEGER, s SMALLINT, d DOUBLE, b BIT, t VARCHAR(20), m MEMO, dt DATE, tm TIME, bin LONGBINARY"
MARKERS = "INSERT INTO t VALUES(?,?,?,?,?,?,?,?,?)"
# One row of every value kind: as parameters, as the SQL literals that say the same, and as
# mdb-export shows it (dates in its %m/%d/%y form, binary in hex).
ROWS = [
    ((7, -3, 0.1, True, "h\u00e9llo 'x'", "m" * 300, datetime.datetime(2020, 5, 6, 7, 8, 9),
      datetime.time(1, 2, 3), b"\x00\xff"),
     "7, -3, 0.1, 1, 'h\u00e9llo ''x''', '" + "m" * 300 + "', '2020-05-06 07:08:09', '01:02:03', 0x00FF",
     ["7", "-3", "0.1", "1", "h\u00e9llo 'x'", "m" * 300, "05/06/20 07:08:09", "12/30/99 01:02:03", "00FF"]),
    ((-2147483648, 32767, 1e300, False, "", "", datetime.datetime(1900, 1, 1), datetime.time(23, 59, 59), b""),
     "-2147483648, 32767, 1e300, 0, '', '', '1900-01-01 00:00:00', '23:59:59', 0x",
     ["-2147483648", "32767", "1e+300", "0", "", "", "01/01/00 00:00:00", "12/30/99 23:59:59", ""]),
    ((None,) * 9, ", ".join(["NULL"] * 9), ["", "", "", "0", "", "", "", "", ""]),
]


def mdb_rows(path, table="t"):
    out = subprocess.run(["mdb-export", "-b", "hex", "-D", "%m/%d/%y %H:%M:%S", path, table],
                         check=True, capture_output=True, text=True).stdout
    return list(csv.reader(io.StringIO(out)))[1:]


# The formats whose connections go on after a commit.
CHECKPOINT_FORMATS = ("db.csv", "db.txt", "db.mdb", "db.xls", "db.xlsx")


def file_rows(path, table="t"):
    """The rows of `table` as text, by a reader of the file's format (NULL as empty)."""
    if path.endswith(".mdb"):
        return mdb_rows(path, table)
    if path.endswith(".xls"):
        sheet = xlrd.open_workbook(path).sheet_by_name(table)
        return [[cell_text(v) for v in sheet.row_values(r)] for r in range(1, sheet.nrows)]
    if path.endswith(".xlsx"):
        import openpyxl
        sheet = openpyxl.load_workbook(path)[table]
        return [[cell_text(v) for v in row] for row in sheet.iter_rows(min_row=2, values_only=True)]
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.reader(f, delimiter="," if path.endswith(".csv") else "\t"))[1:]


def cell_text(value):
    if value is None:
        return ""
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def connect(path, autocommit=False):
    return pyodbc.connect(f"DRIVER={{Quillon}};DBQ={path}", autocommit=autocommit)


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(dir=HOME)


class Library(unittest.TestCase):
    def test_exports_only_entry_points_and_needs_no_driver_manager(self):
        needed = subprocess.run(["readelf", "-d", LIBRARY], check=True, capture_output=True, text=True).stdout
        self.assertNotIn("libodbc.so", needed)
        symbols = subprocess.run(["nm", "-D", "--defined-only", LIBRARY], check=True, capture_output=True,
                                 text=True).stdout.split("\n")
        names = [line.split()[-1] for line in symbols if line.strip()]
        self.assertIn("SQLDriverConnectW", names)
        self.assertEqual([n for n in names if not n.startswith("SQL")], [])


class RoundTrip(Folder):
    def test_every_value_kind_by_literal_parameter_and_array(self):
        path = os.path.join(self.dir, "new", "folder", "db.mdb")  # folders and file made
        with connect(path) as c:
            cur = c.cursor()
            cur.execute(f"CREATE TABLE t ({COLUMNS})")
            for params, literals, _ in ROWS:
                cur.execute(f"INSERT INTO t VALUES({literals})")
                cur.execute(MARKERS, *params)
            cur.fast_executemany = True
            cur.executemany(MARKERS, [p for p, _, _ in ROWS])
            c.commit()
        got = mdb_rows(path)
        want = [shown for _, _, shown in ROWS]
        self.assertEqual(got, [row for row in want for _ in range(2)] + want)

    def test_workbook_by_parameters(self):
        path = os.path.join(self.dir, "book.xls")
        with connect(path) as c:
            c.execute("CREATE TABLE s (n DOUBLE, t TEXT, d DATE)")
            c.cursor().executemany("INSERT INTO s VALUES(?,?,?)",
                                   [(1.25, "a", datetime.datetime(2024, 2, 29, 12, 0, 0)), (None, "b\u20ac", None)])
            c.commit()
        sheet = xlrd.open_workbook(path).sheet_by_name("s")
        self.assertEqual(sheet.row_values(0), ["n", "t", "d"])
        self.assertEqual(sheet.row_values(1)[:2], [1.25, "a"])
        self.assertEqual(xlrd.xldate_as_tuple(sheet.cell_value(1, 2), 0), (2024, 2, 29, 12, 0, 0))
        self.assertEqual(sheet.row_values(2), ["", "b\u20ac", ""])

    def test_info_and_types_as_pyodbc_asks(self):
        with connect(os.path.join(self.dir, "i.mdb")) as c:
            self.assertEqual(c.getinfo(pyodbc.SQL_DRIVER_NAME), "libquillonodbc.so")
            self.assertEqual(c.getinfo(pyodbc.SQL_DBMS_NAME), "Microsoft Access Driver (*.mdb)")
            self.assertEqual(c.getinfo(pyodbc.SQL_IDENTIFIER_QUOTE_CHAR), '"')
            self.assertEqual(c.getinfo(pyodbc.SQL_TXN_CAPABLE), SQL_TC_ALL)
            types = {r.type_name: (r.data_type, r.column_size) for r in c.cursor().getTypeInfo()}
            self.assertEqual(types["TIMESTAMP"], (pyodbc.SQL_TYPE_TIMESTAMP, 19))
            self.assertEqual(types["VARCHAR"], (pyodbc.SQL_WVARCHAR, 255))


DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")


def header_names(values):
    """A first row as the catalog names its columns: texts, Jet's F1, F2, ... for the rest."""
    while values and values[-1] in ("", None):
        values = values[:-1]
    return [v if isinstance(v, str) and v else f"F{i + 1}" for i, v in enumerate(values)]


def xls_sheets(path):
    return {s.name: header_names(s.row_values(0) if s.nrows else []) for s in xlrd.open_workbook(path).sheets()}


def xlsx_sheets(path):
    import openpyxl
    book = openpyxl.load_workbook(path, data_only=True)
    return {ws.title: header_names([c.value for c in next(ws.iter_rows(min_row=1, max_row=1), [])]) for ws in book}


def mdb_tables(path):
    names = subprocess.run(["mdb-tables", "-1", path], check=True, capture_output=True, text=True).stdout.split()
    exported = {n: subprocess.run(["mdb-export", path, n], check=True, capture_output=True).stdout for n in names}
    return {n: next(csv.reader([out.decode(errors="replace").split("\n")[0]])) for n, out in exported.items()}


class Catalog(Folder):
    def copy(self, name):
        path = os.path.join(self.dir, os.path.basename(name))
        shutil.copy(os.path.join(DATA, name), path)
        return path

    def test_tables_and_columns_of_files_other_programs_wrote(self):
        # Access, Excel and Calc files; each read back by another reader.
        for name, read in [("jet4/queryTestV2000.mdb", mdb_tables), ("jet4/test2V2000.mdb", mdb_tables),
                           ("xls/namesdemo.xls", xls_sheets), ("xls/formula_test_sjmachin.xls", xls_sheets),
                           ("xls/Formate.xls", xls_sheets), ("xls/profiles.xls", xls_sheets),
                           ("xlsx/rich_string01.xlsx", xlsx_sheets), ("xlsx/table01.xlsx", xlsx_sheets),
                           ("xlsx/calc-profiles.xlsx", xlsx_sheets)]:
            path = self.copy(name)
            with open(path, "rb") as f:
                before = f.read()
            with connect(path) as c:
                tables = [(r.table_name, r.table_type) for r in c.cursor().tables()]
                got = {t: [] for t, _ in tables}
                for r in c.cursor().columns():
                    got[r.table_name].append(r.column_name)
            want = read(path)
            self.assertEqual(sorted(tables), sorted((t, "TABLE") for t in want), name)
            self.assertEqual(got, want, name)
            with open(path, "rb") as f:
                self.assertEqual(f.read(), before, name)
        # A text file as a spreadsheet program saves it: a byte order mark, quoted fields.
        path = os.path.join(self.dir, "Saved List.csv")
        with open(path, "w", encoding="utf-8-sig", newline="") as f:
            csv.writer(f).writerows([["Name", "a,b", 'say "hi"', "\u00e9"], ["1", "2", "3", "4"]])
        with open(path, encoding="utf-8-sig", newline="") as f:
            want = [("Saved List", n) for n in next(csv.reader(f))]
        with connect(path) as c:
            self.assertEqual([(r.table_name, r.column_name) for r in c.cursor().columns()], want)

    def test_a_table_added_to_files_other_programs_wrote_leaves_what_they_held(self):
        for name, tables in [("jet4/test2V2000.mdb", mdb_tables), ("xls/profiles.xls", xls_sheets),
                             ("xlsx/calc-profiles.xlsx", xlsx_sheets)]:
            path = self.copy(name)
            held = {t: file_rows(path, t) for t in tables(path)}
            with connect(path) as c:
                c.execute("CREATE TABLE Added (i INTEGER, s VARCHAR(10))")
                c.cursor().executemany("INSERT INTO Added VALUES(?, ?)", [(1, "a"), (2, None)])
                c.commit()
            self.assertEqual({t: file_rows(path, t) for t in held}, held, name)
            self.assertEqual(file_rows(path, "Added"), [["1", "a"], ["2", ""]], name)

    def test_tables_created_on_the_connection_until_rollback(self):
        want = [("a", pyodbc.SQL_INTEGER, "INTEGER", 10), ("b", pyodbc.SQL_WVARCHAR, "VARCHAR", 20),
                ("c", pyodbc.SQL_TYPE_TIMESTAMP, "TIMESTAMP", 19), ("d", pyodbc.SQL_WLONGVARCHAR, "MEMO", 65535)]
        for name in ("new.mdb", "new.xls", "new.xlsx", "new.csv", "calc-profiles.xlsx"):
            path = self.copy("xlsx/" + name) if name.startswith("calc") else os.path.join(self.dir, name)
            with connect(path) as c:
                before = [r.table_name for r in c.cursor().tables()]
                c.execute("CREATE TABLE Neu (a INTEGER, b VARCHAR(20), c DATE, d MEMO)")
                self.assertEqual([r.table_name for r in c.cursor().tables(table="Neu")], ["Neu"], name)
                got = [(r.column_name, r.data_type, r.type_name, r.column_size) for r in c.cursor().columns("Neu")]
                self.assertEqual(got, want, name)
                c.rollback()
                self.assertEqual([r.table_name for r in c.cursor().tables()], before, name)

    def test_patterns_type_filters_and_special_calls(self):
        path = self.copy("jet4/queryTestV2000.mdb")
        system = sorted(n for n in subprocess.run(["mdb-tables", "-1", "-S", path], check=True, capture_output=True,
                                                  text=True).stdout.split() if n.startswith("MSys"))
        with connect(path) as c:
            c.execute("CREATE TABLE a_b (x INTEGER)")
            c.execute("CREATE TABLE axb (x INTEGER)")
            cur = c.cursor()
            for kwargs, want in [
                ({}, ["Table1", "Table2", "Table3", "a_b", "axb"]),
                ({"table": "table_"}, ["Table1", "Table2", "Table3"]),
                ({"table": "%2"}, ["Table2"]),
                ({"table": "a_b"}, ["a_b", "axb"]),
                ({"table": "a\\_b"}, ["a_b"]),
                ({"table": "MSys%"}, []),
                ({"tableType": "SYSTEM TABLE"}, system),
                ({"tableType": "'TABLE', 'SYSTEM TABLE'", "table": "%1"}, ["Table1"]),
                ({"tableType": "VIEW"}, []),
                ({"catalog": "other"}, []),
            ]:
                self.assertEqual(sorted(r.table_name for r in cur.tables(**kwargs)), sorted(want), kwargs)
            self.assertEqual([r.table_type for r in cur.tables(catalog="", schema="", table="", tableType="%")],
                             ["SYSTEM TABLE", "TABLE"])
            self.assertEqual(cur.tables(catalog="%", schema="", table="").fetchall(), [])
            self.assertEqual(cur.tables(catalog="", schema="%", table="").fetchall(), [])
            self.assertEqual([(r.table_name, r.column_name) for r in cur.columns(table="Table%", column="%3")],
                             [("Table1", "col3"), ("Table2", "col3"), ("Table3", "col3")])
            self.assertEqual(len(cur.columns(table="%").fetchall()), 11)  # no system table's columns
            self.assertTrue(cur.columns(table="MSysObjects").fetchall())
        c.close()
        odbc, dbc, stmt, _ = Odbc(path)
        for function in (54, 40):  # SQL_API_SQLTABLES, SQL_API_SQLCOLUMNS
            supported = ctypes.c_ushort()
            odbc.SQLGetFunctions(dbc, function, ctypes.byref(supported))
            self.assertEqual(supported.value, 1, function)
        # With SQL_ATTR_METADATA_ID on, a name is an identifier: '_' is no wildcard.
        for metadata_id, want in ((0, 3), (1, 0)):
            odbc.SQLSetStmtAttr(stmt, 10014, ctypes.c_void_p(metadata_id), 0)
            self.assertEqual(odbc.SQLTables(stmt, None, 0, None, 0, b"Table_", -3, None, 0), 0)
            rows = 0
            while odbc.SQLFetch(stmt) == 0:
                rows += 1
            odbc.SQLCloseCursor(stmt)
            self.assertEqual(rows, want, metadata_id)

    def test_isql_help_lists_tables_and_columns(self):
        path = self.copy("jet4/queryTestV2000.mdb")
        with open(os.environ["ODBCINI"], "w") as f:
            f.write(f"[quillon-help]\nDriver = Quillon\nDBQ = {path}\n")
        run = subprocess.run(["isql", "-v", "-b", "-d,", "quillon-help"], capture_output=True, text=True,
                             input="help\nhelp Table2\n")
        self.assertIn(",,Table3,TABLE,", run.stdout, run.stderr)
        self.assertIn(",,Table2,col2,-9,VARCHAR,50,", run.stdout, run.stderr)


class Transactions(Folder):
    def test_rollback_leaves_the_file_and_commit_writes_it(self):
        for name in ("db.mdb", "db.xls"):
            path = os.path.join(self.dir, name)
            with connect(path) as c:
                c.execute("CREATE TABLE t (i INTEGER)")
                c.rollback()
                self.assertFalse(os.path.exists(path))
                c.execute("CREATE TABLE t (i INTEGER)")
                c.execute("INSERT INTO t VALUES(1)")
                c.commit()
                with open(path, "rb") as f:
                    before = f.read()
                c.execute("CREATE TABLE u (i INTEGER)")
                c.execute("INSERT INTO u VALUES(2)")
                c.rollback()
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), before, name)
        self.assertEqual(mdb_rows(os.path.join(self.dir, "db.mdb")), [["1"]])
        self.assertEqual(sorted(os.listdir(self.dir)), ["db.mdb", "db.xls"])

    def test_refused_value_stops_the_array_after_the_rows_before_it(self):
        path = os.path.join(self.dir, "db.mdb")
        with connect(path) as c:
            c.execute("CREATE TABLE t (i INTEGER, s SMALLINT)")
            cur = c.cursor()
            cur.fast_executemany = True
            with self.assertRaises(pyodbc.Error) as e:
                cur.executemany("INSERT INTO t VALUES(?,?)", [(1, 1), (2, 40000), (3, 3)])
            self.assertEqual(e.exception.args[0], "22003")
            self.assertIn("'s'", e.exception.args[1])
            c.commit()
        self.assertEqual(mdb_rows(path), [["1", "1"]])

    def test_a_committed_table_takes_more_rows_until_a_rollback(self):
        for name in CHECKPOINT_FORMATS:
            path = os.path.join(self.dir, name)
            with connect(path, autocommit=True) as c:
                c.execute("CREATE TABLE t (i INTEGER, s VARCHAR(10))")
                self.assertEqual(file_rows(path), [], name)
                c.execute("INSERT INTO t VALUES(1, 'a')")  # each statement is in the file at once
                self.assertEqual(file_rows(path), [["1", "a"]], name)
                c.cursor().executemany("INSERT INTO t VALUES(?, ?)", [(2, "b"), (3, None)])
                self.assertEqual(file_rows(path), [["1", "a"], ["2", "b"], ["3", ""]], name)
                c.autocommit = False
                c.execute("INSERT INTO t VALUES(4, 'd')")
                c.commit()
                c.execute("INSERT INTO t VALUES(5, 'e')")
                c.rollback()
                self.assertEqual(file_rows(path), [["1", "a"], ["2", "b"], ["3", ""], ["4", "d"]], name)
                with self.assertRaises(pyodbc.Error) as e:  # the rollback ended the table's connection
                    c.execute("INSERT INTO t VALUES(6, 'f')")
                self.assertIn("was in the file before", str(e.exception))
            self.assertEqual(file_rows(path), [["1", "a"], ["2", "b"], ["3", ""], ["4", "d"]], name)
        self.assertEqual(sorted(os.listdir(self.dir)), sorted(CHECKPOINT_FORMATS))

    def test_isql_through_a_data_source(self):
        path = os.path.join(self.dir, "dsn.mdb")
        with open(os.environ["ODBCINI"], "w") as f:
            f.write(f"[quillon-test]\nDriver = Quillon\nDBQ = {path}\n")
        run = subprocess.run(["isql", "-v", "-b", "quillon-test"], capture_output=True, text=True,
                             input="CREATE TABLE a (x INTEGER)\nCREATE TABLE a (y TEXT)\nCREATE TABLE b (x INTEGER)\n")
        self.assertIn("Table 'a' already exists.", run.stdout + run.stderr)
        with pyodbc.connect("DSN=quillon-test") as c:  # the data source through SQLDriverConnect
            c.execute("CREATE TABLE c (x INTEGER)")
            c.commit()
        self.assertEqual(subprocess.run(["mdb-tables", "-1", path], capture_output=True, text=True).stdout, "a\nb\nc\n")

    def test_php_odbc_with_parameters(self):
        if shutil.which("php") is None:
            self.assertNotEqual(os.environ.get("CI"), "true", "php is missing")
            self.skipTest("php is missing")
        path = os.path.join(self.dir, "php.mdb")
        script = f"""<?php
$c = odbc_connect("DRIVER={{Quillon}};DBQ={path}", "", "");
odbc_autocommit($c, false);
odbc_exec($c, "CREATE TABLE t (i INTEGER, s TEXT, d DOUBLE)");
$st = odbc_prepare($c, "INSERT INTO t VALUES(?, ?, ?)");
odbc_execute($st, [1, "a'b", 1.5]);
odbc_execute($st, [2, "é", null]);
if (!@odbc_execute($st, [3, "x", "not a number"])) echo odbc_errormsg($c);
odbc_commit($c);
"""
        run = subprocess.run(["php"], input=script, capture_output=True, text=True)
        self.assertIn("column 'd' (DOUBLE)", run.stdout, run.stderr)
        self.assertEqual(mdb_rows(path), [["1", "a'b", "1.5"], ["2", "\u00e9", ""]])

    def test_disconnect_with_open_transaction_is_refused(self):
        path = os.path.join(self.dir, "db.mdb")
        odbc, dbc, stmt, state = Odbc(path)
        self.assertEqual(odbc.SQLGetInfo(dbc, 10104, ctypes.create_string_buffer(64), 64, None), -1)
        self.assertEqual(state(2, dbc), (b"HY096", None))
        odbc.SQLSetConnectAttr(dbc, 102, ctypes.c_void_p(0), 0)  # SQL_ATTR_AUTOCOMMIT off
        self.assertEqual(odbc.SQLExecDirect(stmt, b"CREATE TABLE t (i INTEGER)", -3), 0)
        self.assertEqual(odbc.SQLDisconnect(dbc), -1)
        self.assertEqual(state(2, dbc), (b"25000", None))
        self.assertEqual(odbc.SQLEndTran(2, dbc, 0), 0)  # SQL_COMMIT
        self.assertEqual(odbc.SQLDisconnect(dbc), 0)
        self.assertEqual(subprocess.run(["mdb-tables", "-1", path], capture_output=True, text=True).stdout, "t\n")

    def test_column_wise_array_of_c_types_stops_at_a_refused_row(self):
        path = os.path.join(self.dir, "db.mdb")
        odbc, dbc, stmt, state = Odbc(path)
        odbc.SQLSetConnectAttr(dbc, 102, ctypes.c_void_p(0), 0)  # SQL_ATTR_AUTOCOMMIT off
        odbc.SQLExecDirect(stmt, b"CREATE TABLE t (n DOUBLE, u INTEGER, f DOUBLE, d DATE)", -3)
        numeric = (Numeric * 3)(Numeric(0, 3, 1, (16 * ctypes.c_ubyte)(*(12345).to_bytes(16, "little"))),
                                Numeric(0, 1, 0, (16 * ctypes.c_ubyte)(5)), Numeric())
        tiny = (ctypes.c_ubyte * 3)(255, 0, 1)
        single = (ctypes.c_float * 3)(0.1, 2.5, 3)
        stamps = (Timestamp * 3)(Timestamp(2024, 1, 2, 3, 4, 5, 0), Timestamp(2024, 1, 2, 3, 4, 5, 500), Timestamp())
        status, processed = (ctypes.c_ushort * 3)(), ctypes.c_ulong()
        odbc.SQLSetStmtAttr(stmt, 22, ctypes.c_void_p(3), 0)  # SQL_ATTR_PARAMSET_SIZE
        odbc.SQLSetStmtAttr(stmt, 20, ctypes.cast(status, ctypes.c_void_p), 0)  # SQL_ATTR_PARAM_STATUS_PTR
        odbc.SQLSetStmtAttr(stmt, 21, ctypes.byref(processed), 0)  # SQL_ATTR_PARAMS_PROCESSED_PTR
        odbc.SQLPrepare(stmt, b"INSERT INTO t VALUES(?, ?, ?, ?)", -3)
        # C types: SQL_C_NUMERIC, SQL_C_UTINYINT, SQL_C_FLOAT, the ODBC 2 SQL_C_TIMESTAMP.
        for number, (c_type, values) in enumerate([(2, numeric), (-28, tiny), (7, single), (11, stamps)], 1):
            odbc.SQLBindParameter(stmt, number, 1, c_type, 8, 0, 0, values, 0, None)
        self.assertEqual(odbc.SQLExecute(stmt), -1)
        self.assertEqual((list(status), processed.value), ([0, 5, 7], 2))  # SUCCESS, ERROR, UNUSED
        self.assertEqual(state(3, stmt), (b"22008", 2))
        odbc.SQLEndTran(2, dbc, 0)
        self.assertEqual(mdb_rows(path), [["12.345", "255", "0.1", "01/02/24 03:04:05"]])
        odbc.SQLFreeHandle(3, stmt)
        odbc.SQLDisconnect(dbc)


class Numeric(ctypes.Structure):
    _fields_ = [("precision", ctypes.c_ubyte), ("scale", ctypes.c_byte), ("sign", ctypes.c_ubyte),
                ("val", ctypes.c_ubyte * 16)]


class Timestamp(ctypes.Structure):
    _fields_ = [("year", ctypes.c_short)] + [(n, ctypes.c_ushort) for n in ("month", "day", "hour", "minute", "second")] + [
        ("fraction", ctypes.c_uint)]


def Odbc(path):
    """libodbc with an ODBC 3 environment connected to `path`: the library, the connection, one
    statement, and a function giving a handle's first SQLSTATE and the row its record names."""
    odbc = ctypes.CDLL("libodbc.so.2")
    odbc.SQLBindParameter.argtypes = [ctypes.c_void_p, ctypes.c_ushort, ctypes.c_short, ctypes.c_short, ctypes.c_short,
                                      ctypes.c_ulong, ctypes.c_short, ctypes.c_void_p, ctypes.c_long, ctypes.c_void_p]
    env, dbc, stmt = ctypes.c_void_p(), ctypes.c_void_p(), ctypes.c_void_p()
    odbc.SQLAllocHandle(1, None, ctypes.byref(env))
    odbc.SQLSetEnvAttr(env, 200, ctypes.c_void_p(3), 0)  # SQL_ATTR_ODBC_VERSION, 3
    odbc.SQLAllocHandle(2, env, ctypes.byref(dbc))
    connect_string = f"DRIVER={{Quillon}};DBQ={path}".encode()
    assert odbc.SQLDriverConnect(dbc, None, connect_string, -3, None, 0, None, 0) == 0
    odbc.SQLAllocHandle(3, dbc, ctypes.byref(stmt))

    def state(handle_type, handle):
        state, native, text, row = ctypes.create_string_buffer(6), ctypes.c_int(), ctypes.create_string_buffer(512), ctypes.c_long()
        odbc.SQLGetDiagRec(handle_type, handle, 1, state, ctypes.byref(native), text, 512, None)
        if handle_type != 3:
            return state.value, None
        odbc.SQLGetDiagField(handle_type, handle, 1, -1248, ctypes.byref(row), 0, None)  # SQL_DIAG_ROW_NUMBER
        return state.value, row.value

    return odbc, dbc, stmt, state


CHILD = """
import os, sys, time, pyodbc
c = pyodbc.connect("DRIVER={Quillon};DBQ=" + sys.argv[1])
c.execute("CREATE TABLE t (i INTEGER)")
c.execute("INSERT INTO t VALUES(1)")
c.commit()
c.execute("CREATE TABLE u (i INTEGER)")
c.cursor().executemany("INSERT INTO u VALUES(?)", [(i,) for i in range(1000)])
print("ready", flush=True)
time.sleep(60)
"""


# Connects to each path given, as the user the test runs it as, and prints what came of it.
CONNECT_EACH = """
import sys, pyodbc
for path in sys.argv[1:]:
    try:
        pyodbc.connect("DRIVER={Quillon};DBQ=" + path).close()
        print("connected")
    except pyodbc.Error as e:
        print(e.args[0], e.args[1])
"""
# Below the size of a commit of ROWS_PAST_LIMIT, above that of one row.
FILE_SIZE_LIMIT = 256 * 1024
ROWS_PAST_LIMIT = [(i, os.urandom(50).hex()) for i in range(6000)]


class Faults(Folder):
    def test_a_full_disk_fails_the_commit_and_the_file_keeps_the_last_one(self):
        # A file size limit stands for the full disk: writes past it fail (EFBIG, SIGXFSZ ignored).
        # It holds for temporary files too, which an .xlsx commit writes (and names) first.
        self.addCleanup(signal.signal, signal.SIGXFSZ, signal.signal(signal.SIGXFSZ, signal.SIG_IGN))
        soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
        for name in ("db.csv", "db.txt", "db.mdb", "db.xls"):
            folder = tempfile.mkdtemp(dir=self.dir)
            path = os.path.join(folder, name)
            text = name.endswith((".csv", ".txt"))  # one table a file: the rows go on in it
            c = connect(path)
            cur = c.cursor()
            cur.fast_executemany = True

            def commit_past_the_limit():
                resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_SIZE_LIMIT, hard))
                try:
                    with self.assertRaises(pyodbc.Error) as e:
                        c.commit()
                finally:
                    resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
                self.assertEqual(e.exception.args[0], "58030", name)
                self.assertIn(f"'{path}': File too large", e.exception.args[1], name)

            c.execute("CREATE TABLE t (i INTEGER, s VARCHAR(100))")
            cur.executemany("INSERT INTO t VALUES(?, ?)", ROWS_PAST_LIMIT)
            commit_past_the_limit()
            self.assertEqual(os.listdir(folder), [], name)
            # Room again: the connection goes on, on the file as it was.
            c.execute("CREATE TABLE t (i INTEGER, s VARCHAR(100))")
            c.execute("INSERT INTO t VALUES(1, 'a')")
            c.commit()
            with open(path, "rb") as f:
                committed = f.read()
            if not text:
                c.execute("CREATE TABLE u (i INTEGER, s VARCHAR(100))")
            cur.executemany(f"INSERT INTO {'t' if text else 'u'} VALUES(?, ?)", ROWS_PAST_LIMIT)
            commit_past_the_limit()
            with open(path, "rb") as f:
                self.assertEqual(f.read(), committed, name)
            self.assertEqual(os.listdir(folder), [name], name)
            if not text:
                c.execute("CREATE TABLE w (i INTEGER)")
                c.execute("INSERT INTO w VALUES(2)")
                c.commit()
                self.assertEqual(file_rows(path, "w"), [["2"]], name)
            c.close()
            self.assertEqual(file_rows(path), [["1", "a"]], name)

    def test_a_full_disk_under_autocommit_leaves_no_row_of_the_array_done(self):
        path = os.path.join(self.dir, "auto.csv")
        odbc, dbc, stmt, state = Odbc(path)  # autocommit on
        odbc.SQLExecDirect(stmt, b"CREATE TABLE t (i INTEGER, s VARCHAR(100))", -3)
        with open(path, "rb") as f:
            before = f.read()
        count = len(ROWS_PAST_LIMIT)
        numbers = (ctypes.c_int * count)(*(i for i, _ in ROWS_PAST_LIMIT))
        texts = ctypes.create_string_buffer(b"".join(s.encode().ljust(101, b"\0") for _, s in ROWS_PAST_LIMIT))
        status, processed = (ctypes.c_ushort * count)(), ctypes.c_ulong()
        odbc.SQLSetStmtAttr(stmt, 22, ctypes.c_void_p(count), 0)  # SQL_ATTR_PARAMSET_SIZE
        odbc.SQLSetStmtAttr(stmt, 20, ctypes.cast(status, ctypes.c_void_p), 0)  # SQL_ATTR_PARAM_STATUS_PTR
        odbc.SQLSetStmtAttr(stmt, 21, ctypes.byref(processed), 0)  # SQL_ATTR_PARAMS_PROCESSED_PTR
        odbc.SQLPrepare(stmt, b"INSERT INTO t VALUES(?, ?)", -3)
        odbc.SQLBindParameter(stmt, 1, 1, 4, 4, 0, 0, numbers, 0, None)  # SQL_C_LONG
        odbc.SQLBindParameter(stmt, 2, 1, 1, 12, 100, 0, texts, 101, None)  # SQL_C_CHAR, NUL-terminated
        self.addCleanup(signal.signal, signal.SIGXFSZ, signal.signal(signal.SIGXFSZ, signal.SIG_IGN))
        soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
        resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_SIZE_LIMIT, hard))
        try:
            self.assertEqual(odbc.SQLExecute(stmt), -1)
        finally:
            resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
        self.assertEqual(state(3, stmt)[0], b"58030")
        self.assertGreater(processed.value, 1)
        self.assertEqual(list(status).count(0), 0)  # SQL_PARAM_SUCCESS: no row was kept
        with open(path, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(odbc.SQLDisconnect(dbc), 0)

    def test_read_only_files_and_folders_are_refused_at_connect_untouched(self):
        for name in ("db.mdb", "db.xls", "db.xlsx", "db.csv"):
            path = os.path.join(self.dir, name)
            c = connect(path)
            c.execute("CREATE TABLE t (i INTEGER)")
            c.commit()
            c.close()
            os.chmod(path, 0o444)
            with open(path, "rb") as f:
                before = f.read()
            with self.assertRaises(pyodbc.Error) as e:
                connect(path)
            self.assertEqual(e.exception.args[0], "HY000", name)
            self.assertIn(f"'{path}'", e.exception.args[1], name)
            self.assertIn("read-only", e.exception.args[1], name)
            with open(path, "rb") as f:
                self.assertEqual(f.read(), before, name)
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o444, name)
        # A folder this user may not write: root may write any, so root runs the connections as
        # nobody, through a copy of the driver that nobody may read.
        locked = os.path.join(self.dir, "locked")
        os.mkdir(locked)
        existing = os.path.join(locked, "db.mdb")
        c = connect(existing)
        c.execute("CREATE TABLE t (i INTEGER)")
        c.commit()
        c.close()
        os.chmod(existing, 0o666)
        with open(existing, "rb") as f:
            before = f.read()
        os.chmod(locked, 0o555)
        self.addCleanup(os.chmod, locked, 0o755)
        argv, env = [sys.executable, "-c", CONNECT_EACH], dict(os.environ)
        if os.geteuid() == 0:
            if shutil.which("setpriv") is None:
                self.assertNotEqual(os.environ.get("CI"), "true", "setpriv is missing")
                self.skipTest("setpriv is missing")
            for folder in (HOME, self.dir):
                os.chmod(folder, 0o755)
            self.addCleanup(os.chmod, HOME, 0o700)
            shutil.copy(LIBRARY, self.dir)
            with open(os.path.join(self.dir, "odbcinst.ini"), "w") as f:
                f.write(f"[Quillon]\nDriver = {os.path.join(self.dir, os.path.basename(LIBRARY))}\n")
            env["ODBCSYSINI"] = self.dir
            argv = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + argv
        paths = [existing, os.path.join(locked, "new.xls"), os.path.join(locked, "sub", "new.csv")]
        run = subprocess.run(argv + paths, env=env, capture_output=True, text=True)
        got = run.stdout.splitlines()
        self.assertEqual(len(got), 3, run.stdout + run.stderr)
        for path, line in zip(paths[:2], got):
            self.assertEqual(line, f"HY000 [HY000] [Quillon][ODBC Driver]Cannot write '{path}': its folder '{locked}' "
                                   "is not writable (0) (SQLDriverConnect)")
        self.assertIn(f"The folder '{os.path.join(locked, 'sub')}' cannot be created: permission denied", got[2])
        with open(existing, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(os.listdir(locked), ["db.mdb"])

    def test_kill_mid_transaction_keeps_the_last_commit_and_the_lock_holds_between(self):
        path = os.path.join(self.dir, "db.mdb")
        child = subprocess.Popen([sys.executable, "-c", CHILD, path], stdout=subprocess.PIPE, text=True)
        self.addCleanup(child.stdout.close)
        try:
            self.assertEqual(child.stdout.readline(), "ready\n")
            # Held since connect, across the commit: a second connection is refused.
            with self.assertRaises(pyodbc.Error) as e:
                connect(path)
            self.assertIn("in use", str(e.exception))
            child.send_signal(signal.SIGKILL)
        finally:
            child.kill()
            child.wait()
        self.assertEqual(mdb_rows(path), [["1"]])
        self.assertEqual(subprocess.run(["mdb-tables", "-1", path], capture_output=True, text=True).stdout, "t\n")
        self.assertEqual(os.listdir(self.dir), ["db.mdb"])
        with connect(path) as c:  # free again
            c.execute("CREATE TABLE v (i INTEGER)")
            c.commit()


def diag(odbc, handle_type, handle):
    """A handle's first SQLSTATE and message, as text."""
    state, text = ctypes.create_string_buffer(6), ctypes.create_string_buffer(1024)
    odbc.SQLGetDiagRec(handle_type, handle, 1, state, None, text, 1024, None)
    return state.value.decode(), text.value.decode(errors="replace")


def wide(text, *units):
    """UTF-16 code units of `text` (ASCII) and `units`, closed by a NUL."""
    return (ctypes.c_ushort * (len(text) + len(units) + 1))(*map(ord, text), *units, 0)


class Hostile(Folder):
    """Inputs an attacker or a careless program gives through the C interface: each is refused with
    its SQLSTATE and a message naming what is wrong, and changes nothing in the file."""

    def setUp(self):
        super().setUp()
        self.path = os.path.join(self.dir, "db.mdb")
        self.odbc, self.dbc, self.stmt, _ = Odbc(self.path)
        self.odbc.SQLPutData.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_long]
        self.odbc.SQLSetStmtAttr.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
        self.assertEqual(self.odbc.SQLExecDirect(self.stmt, b"CREATE TABLE t (i INTEGER, s VARCHAR(20))", -3), 0)

    def run_cases(self, cases):
        """Each case: a name, a call returning its return code (of the statement) or (return code,
        handle type, handle), the SQLSTATE and the words its message holds (None: not looked at)."""
        for name, call, rc, state, words in cases:
            got = call()
            got, handle_type, handle = got if isinstance(got, tuple) else (got, 3, self.stmt)
            self.assertEqual(got, rc, name)
            if state is not None:
                got_state, message = diag(self.odbc, handle_type, handle)
                self.assertEqual(got_state, state, (name, message))
                self.assertIn(words, message, name)

    def prepared(self, *binds, size=1, text=b"INSERT INTO t VALUES(?, ?)"):
        """The statement prepared as `text` with `binds` (argument tuples of SQLBindParameter after
        the handle) and a parameter array of `size` rows."""
        odbc, stmt = self.odbc, self.stmt
        self.bound = binds  # the buffers live until the next statement
        odbc.SQLCancel(stmt)  # ends a statement still waiting for data
        odbc.SQLFreeStmt(stmt, 3)  # SQL_RESET_PARAMS
        odbc.SQLSetStmtAttr(stmt, 22, ctypes.c_void_p(size), 0)  # SQL_ATTR_PARAMSET_SIZE
        odbc.SQLPrepare(stmt, text, -3)
        for bind in binds:
            odbc.SQLBindParameter(stmt, *bind)
        return stmt

    def test_text_not_utf8_or_utf16_is_refused_not_stored_changed(self):
        odbc, stmt = self.odbc, self.stmt
        one = ctypes.c_int(1)
        integer = (1, 1, 4, 4, 0, 0, ctypes.byref(one), 0, None)  # SQL_C_LONG
        with open(os.environ["ODBCINI"], "wb") as f:
            f.write(b"[latin]\nDriver = Quillon\nDBQ = " + self.dir.encode() + b"/caf\xe9.mdb\n")
        other = bare_connection(odbc)

        def connect(text):
            return odbc.SQLDriverConnect(other, None, text, len(text), None, 0, None, 0), 2, other

        closed = b"INSERT INTO t VALUES(2, 'caf\xc3\xa9')\0"
        self.run_cases([
            ("Latin-1 statement", lambda: odbc.SQLExecDirect(stmt, b"INSERT INTO t VALUES(1, 'caf\xe9')", -3),
             -1, "22021", "statement is not valid UTF-8 (at byte 28)"),
            ("Latin-1 prepared", lambda: odbc.SQLPrepare(stmt, b"INSERT INTO t VALUES(1, '\xe9')", -3),
             -1, "22021", "at byte 25"),
            ("unpaired surrogate",
             lambda: odbc.SQLExecDirectW(stmt, wide("INSERT INTO t VALUES(1, '", 0xD800, ord("'"), ord(")")), -3),
             -1, "22021", "statement is not valid UTF-16 (an unpaired surrogate at code unit 25)"),
            ("NUL inside", lambda: odbc.SQLExecDirect(stmt, b"INSERT INTO t VALUES(1, 'a\0b')", 30),
             -1, "22021", "NUL character at position 26"),
            ("Latin-1 catalog argument", lambda: odbc.SQLTables(stmt, None, 0, None, 0, b"caf\xe9", -3, None, 0),
             -1, "22021", "catalog function's argument is not valid UTF-8"),
            ("UTF-16 parameter", lambda: odbc.SQLExecute(self.prepared(
                integer, (2, 1, -8, -9, 20, 0, wide("a", 0xDC00), 6, None))),  # SQL_C_WCHAR
             -1, "22021", "value of parameter 2 is not valid UTF-16"),
            ("parameter with a NUL inside", lambda: odbc.SQLExecute(self.prepared(
                integer, (2, 1, 1, 12, 20, 0, ctypes.c_char_p(b"a\0b"), 4, ctypes.byref(ctypes.c_long(3))))),
             -1, "22021", "value of parameter 2 holds a NUL character at position 1"),
            ("Latin-1 path", lambda: connect(b"DRIVER={Quillon};DBQ=" + self.dir.encode() + b"/caf\xe9.mdb"),
             -1, "22021", "file path (DBQ) of the connect string is not valid UTF-8"),
            ("Latin-1 path of a data source", lambda: connect(b"DSN=latin"),
             -1, "22021", "DBQ entry of data source latin in odbc.ini is not valid UTF-8"),
            # A length that counts the closing NUL is the text without it.
            ("closing NUL counted", lambda: odbc.SQLExecDirect(stmt, closed, len(closed)), 0, None, None),
        ])
        odbc.SQLEndTran(2, self.dbc, 0)
        self.assertEqual(mdb_rows(self.path), [["2", "caf\u00e9"]])
        self.assertEqual(os.listdir(self.dir), ["db.mdb"])

    def test_lengths_that_lie_and_values_sent_out_of_turn(self):
        odbc, stmt = self.odbc, self.stmt
        one, seven, long_length = ctypes.c_int(1), ctypes.c_int(7), ctypes.c_long(50)
        dae, ints = ctypes.c_long(-2), (ctypes.c_int * 2)(20, 21)  # SQL_DATA_AT_EXEC
        token, text = ctypes.c_void_p(), ctypes.c_char_p(b"x")
        stamp = Timestamp(2024, 1, 2, 100, 0, 0, 0)  # hour 100
        integer = (1, 1, 4, 4, 0, 0, ctypes.byref(one), 0, None)
        later = (1, 1, 4, 4, 0, 0, ctypes.c_void_p(1), 0, ctypes.byref(dae))
        string = (2, 1, 1, 12, 20, 0, text, 2, None)

        def asked_for_value():
            self.assertEqual(odbc.SQLExecute(self.prepared(later, string)), 99)  # SQL_NEED_DATA
            self.assertEqual(odbc.SQLParamData(stmt, ctypes.byref(token)), 99)

        def pieces(*lengths):
            asked_for_value()
            for length in lengths:
                rc = odbc.SQLPutData(stmt, ctypes.byref(seven), length)
                if rc != 0:
                    return rc
            return odbc.SQLParamData(stmt, ctypes.byref(token))

        self.run_cases([
            ("negative length", lambda: odbc.SQLExecDirect(stmt, b"INSERT INTO t VALUES(9, 'x')", -5),
             -1, "HY090", "length"),
            ("length past the buffer", lambda: odbc.SQLExecute(self.prepared(
                integer, (2, 1, 1, 12, 20, 0, text, 2, ctypes.byref(long_length)))),
             -1, "HY090", "Parameter 2 has an invalid length"),
            ("length without a buffer", lambda: odbc.SQLExecute(self.prepared(
                (1, 1, 4, 4, 0, 0, None, 0, ctypes.byref(ctypes.c_long(4))), string)),
             -1, "HY009", "Parameter 1 has a length but its value buffer is a null pointer"),
            ("field out of range", lambda: odbc.SQLExecute(self.prepared(
                integer, (2, 1, 93, 93, 19, 0, ctypes.byref(stamp), 0, None))),  # SQL_C_TYPE_TIMESTAMP
             -1, "22007", "'2024-01-02 100:00:00' has a field out of its range"),
            ("fixed-size value in two pieces", lambda: pieces(4, 4), -1, "HY019", "Parameter 1 is of a fixed-size type"),
            ("put without being asked", lambda: odbc.SQLPutData(self.prepared(integer, string), ctypes.byref(seven), 4),
             -1, "HY010", "sequence"),
            ("data at execution in an array", lambda: odbc.SQLExecute(self.prepared(
                (1, 1, 4, 4, 0, 0, ints, 0, (ctypes.c_long * 2)(4, -2)), (2, 1, 1, 12, 20, 0, text, 2, None), size=2)),
             -1, "HYC00", "data at execution in an array of parameters"),
            # A fixed-size value is read at its size, whatever length comes with it.
            ("fixed-size value with a long length", lambda: pieces(100000), 0, None, None),
        ])
        odbc.SQLEndTran(2, self.dbc, 0)
        self.assertEqual(mdb_rows(self.path), [["20", "x"], ["7", "x"]])

    def test_calls_out_of_order_out_of_range_and_too_long(self):
        odbc, dbc, stmt = self.odbc, self.dbc, self.stmt
        fresh, one, length = ctypes.c_void_p(), ctypes.c_int(1), ctypes.c_short()
        odbc.SQLAllocHandle(3, dbc, ctypes.byref(fresh))
        # A statement used after its connection was freed, and a handle of another type: unixODBC
        # reads such a handle itself (and may crash there), so the driver's own handles are used.
        driver, own = ctypes.CDLL(LIBRARY), [ctypes.c_void_p() for _ in range(3)]
        for handle_type, parent in ((1, None), (2, own[0]), (3, own[1])):
            driver.SQLAllocHandle(handle_type, parent, ctypes.byref(own[handle_type - 1]))
        live = [ctypes.c_void_p(), ctypes.c_void_p()]  # allocated first: a freed handle's memory is not theirs
        driver.SQLAllocHandle(2, own[0], ctypes.byref(live[0]))
        driver.SQLAllocHandle(3, live[0], ctypes.byref(live[1]))
        driver.SQLFreeHandle(2, own[1])
        # A data source whose name would add a DBQ of its own to a connect string made of it.
        braced, other, copy = b"a};DBQ={evil.mdb", bare_connection(odbc), ctypes.create_string_buffer(512)
        with open(os.environ["ODBCINI"], "wb") as f:
            f.write(b"[" + braced + b"]\nDriver = Quillon\nDBQ = " + self.dir.encode() + b"/good.mdb\n")
        self.addCleanup(os.chdir, os.getcwd())
        os.chdir(self.dir)
        connect_string = f"DRIVER={{Quillon}};DBQ={os.path.join(self.dir, 'other.mdb')}".encode()

        def connect_and_create(connect):
            made = ctypes.c_void_p()
            if connect() == 0 and odbc.SQLAllocHandle(3, other, ctypes.byref(made)) == 0:
                return odbc.SQLExecDirect(made, b"CREATE TABLE u (i INTEGER)", -3) or odbc.SQLDisconnect(other)
            return -1, 2, other

        # Small buffers of a huge array: the run stops at the refused second row, reading nothing more.
        ints, texts = (ctypes.c_int * 2)(10, 11), ctypes.create_string_buffer(b"ok\0\xff\0", 6)

        self.run_cases([
            ("execute before prepare", lambda: (odbc.SQLExecute(fresh), 3, fresh), -1, "HY010", "sequence"),
            ("execute after direct",
             lambda: odbc.SQLExecDirect(stmt, b"INSERT INTO t VALUES(1, 'once')", -3) or odbc.SQLExecute(stmt),
             -1, "HY010", "no statement is prepared"),
            ("parameter 0", lambda: odbc.SQLBindParameter(stmt, 0, 1, 4, 4, 0, 0, ctypes.byref(one), 0, None),
             -1, "07009", "parameter"),
            ("describe parameter 3 of 2", lambda: odbc.SQLPrepare(stmt, b"INSERT INTO t VALUES(?, ?)", -3)
             or odbc.SQLDescribeParam(stmt, 3, None, None, None, None),
             -1, "07009", "Parameter number 3 is not one of the statement's 2 parameter markers"),
            ("two statements", lambda: odbc.SQLExecDirect(
                stmt, b"CREATE TABLE u (i INTEGER); CREATE TABLE v (i INTEGER)", -3),
             -1, "42000", "unexpected text after the end of the statement"),
            ("two statements, the last with markers", lambda: odbc.SQLExecute(self.prepared(
                (1, 1, 4, 4, 0, 0, ctypes.byref(one), 0, None), (2, 1, 1, 12, 20, 0, ctypes.c_char_p(b"x"), 2, None),
                text=b"INSERT INTO t; DROP TABLE t; INSERT INTO t VALUES(?, ?)")),  # all before VALUES names the table
             -1, "42S02", "Table 't; DROP TABLE t; INSERT INTO t' does not exist"),
            ("40000 markers", lambda: odbc.SQLPrepare(stmt, b"INSERT INTO t VALUES(" + b",?" * 40000 + b")", -3),
             -1, "54000", "40000 parameter markers, more than the 32767"),
            ("long name", lambda: odbc.SQLExecDirect(stmt, b"CREATE TABLE " + b"n" * 100000 + b" (i INTEGER)", -3),
             -1, "42000", "nnnn"),
            ("length of its long message",
             lambda: odbc.SQLGetDiagRec(3, stmt, 1, None, None, None, 0, ctypes.byref(length)), 0, None, None),
            ("long statement", lambda: odbc.SQLExecDirect(stmt, b"INSERT INTO t VALUES(1, '" + b"y" * 10 ** 7 + b"')", -3),
             -1, "22001", "has 10000000 characters"),
            # Names of 60 characters, a pattern of 40 '%': tried split by split, it ran for ages.
            ("long names", lambda: odbc.SQLExecDirect(stmt, b"CREATE TABLE " + b"a" * 60 + b" (i INTEGER)", -3),
             0, None, None),
            ("pattern of many runs", lambda: (odbc.SQLTables(stmt, None, 0, None, 0, b"%a" * 40 + b"b", -3, None, 0),
                                              odbc.SQLFetch(stmt), odbc.SQLCloseCursor(stmt))[1], 100, None, None),
            ("statement of a freed connection", lambda: driver.SQLExecDirect(own[2], b"CREATE TABLE t (i INTEGER)", -3),
             -2, None, None),
            ("statement freed twice", lambda: driver.SQLFreeHandle(3, own[2]), -2, None, None),
            ("no statement text", lambda: driver.SQLPrepare(live[1], None, -3), -1, None, None),
            ("environment as a statement", lambda: driver.SQLPrepare(own[0], b"CREATE TABLE t (i INTEGER)", -3),
             -2, None, None),
            ("data source name with a brace",
             lambda: connect_and_create(lambda: odbc.SQLConnect(other, braced, len(braced), None, 0, None, 0)),
             0, None, None),
            ("copy of the connect string of a negative length",
             lambda: (odbc.SQLDriverConnect(other, None, connect_string, -3, copy, -5, None, 0), 2, other),
             -1, "HY090", "length"),
            ("connecting again", lambda: connect_and_create(
                lambda: odbc.SQLDriverConnect(other, None, connect_string, -3, copy, 512, None, 0)), 0, None, None),
            ("huge array", lambda: odbc.SQLExecute(self.prepared(
                (1, 1, 4, 4, 0, 0, ints, 0, None), (2, 1, 1, 12, 20, 0, texts, 3, None), size=2 ** 40)),
             -1, "22021", "parameter 2"),
        ])
        odbc.SQLEndTran(2, dbc, 0)
        self.assertEqual(mdb_rows(self.path), [["1", "once"], ["10", "ok"]])
        self.assertEqual(length.value, 32767)  # as much as SQLSMALLINT holds, not wrapped below 0
        self.assertEqual(subprocess.run(["mdb-tables", "-1", self.path], capture_output=True, text=True).stdout,
                         "t\n" + "a" * 60 + "\n")
        self.assertEqual(sorted(os.listdir(self.dir)), ["db.mdb", "good.mdb", "other.mdb"])


def bare_connection(odbc):
    """A connection handle, not connected, in an ODBC 3 environment of its own."""
    env, dbc = ctypes.c_void_p(), ctypes.c_void_p()
    odbc.SQLAllocHandle(1, None, ctypes.byref(env))
    odbc.SQLSetEnvAttr(env, 200, ctypes.c_void_p(3), 0)  # SQL_ATTR_ODBC_VERSION, 3
    odbc.SQLAllocHandle(2, env, ctypes.byref(dbc))
    return dbc


if __name__ == "__main__":
    unittest.main()
