"""The benchmark's .xlsx reference and checker, on openpyxl (run by /usr/bin/python3).

  write DB FILE   reads every row of DB's Orders table with the sqlite3 module and writes them into
                  the workbook FILE with openpyxl in write-only mode, as the export does: the
                  column names on each sheet's first row, a further sheet every 1,048,575 rows,
                  date-times as dates
  rows FILE       prints the data rows of the workbook FILE (each sheet's rows but its first),
                  read by openpyxl in read-only mode, one sheet a line, then their total
"""
import datetime
import sqlite3
import sys

import openpyxl

ROWS_PER_SHEET = 1048575
DATE_TIME_COLUMN = 2


def write(db, path):
    connection = sqlite3.connect(db)
    cursor = connection.execute("SELECT * FROM Orders")
    names = [d[0] for d in cursor.description]
    book = openpyxl.Workbook(write_only=True)
    sheet, in_sheet = None, ROWS_PER_SHEET
    parse = datetime.datetime.fromisoformat
    for row in cursor:
        if in_sheet == ROWS_PER_SHEET:
            sheet = book.create_sheet("Orders" if sheet is None else "Orders_%d" % len(book.worksheets))
            sheet.append(names)
            in_sheet = 0
        row = list(row)
        if row[DATE_TIME_COLUMN] is not None:
            row[DATE_TIME_COLUMN] = parse(row[DATE_TIME_COLUMN])
        sheet.append(row)
        in_sheet += 1
    if sheet is None:
        book.create_sheet("Orders").append(names)
    book.save(path)
    connection.close()


def rows(path):
    book = openpyxl.load_workbook(path, read_only=True)
    total = 0
    for sheet in book.worksheets:
        # Without a stored dimension the sheet is read through to count its rows.
        if sheet.max_row is None:
            sheet.calculate_dimension(force=True)
        data = max((sheet.max_row or 0) - 1, 0)
        print("%s\t%d" % (sheet.title, data))
        total += data
    print(total)
    book.close()


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "write":
        write(sys.argv[2], sys.argv[3])
    elif len(sys.argv) == 3 and sys.argv[1] == "rows":
        rows(sys.argv[2])
    else:
        sys.exit(__doc__)
