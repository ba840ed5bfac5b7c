#!/usr/bin/python3
"""Prints every cell of an .xlsx workbook as openpyxl reads it, one line per non-empty cell:
sheet<TAB>row<TAB>column<TAB>kind<TAB>value<TAB>number format (rows and columns from 0). Kinds:
text, number, bool, date, time, error. Text is decoded as Excel decodes it (_xHHHH_ is the UTF-16
unit HHHH; openpyxl leaves that to its caller) and escapes backslash, tab and line breaks. A first
line per sheet gives its name and size: "sheet<TAB>name<TAB>rows<TAB>columns".
With --layout first, prints instead per sheet its frozen pane, AutoFilter range, the bold cells
of the first row and each column's width, the package's entries in order (with their
compression method) and the workbook's defined names as written.
With --pandas first, prints the cells as without it after checking that pandas reads every sheet
alike: the first row as the column names, the same values below, an empty or error cell as NaN.
pandas reads each cell's own value (dtype object): by default it would take a column that mixes
numbers with digits held as text for numbers, so 9007199254740993 would come back as a double."""
import datetime
import re
import sys
import zipfile

import openpyxl

ESCAPED = re.compile('_x([0-9A-Fa-f]{4})_')


def esc(s):
    return s.replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n').replace('\r', '\\r')


def excel_text(s):
    units = ESCAPED.sub(lambda m: chr(int(m.group(1), 16)), s)
    return units.encode('utf-16-le', 'surrogatepass').decode('utf-16-le')


def cells(path):
    book = openpyxl.load_workbook(path)
    out = sys.stdout
    for index, sheet in enumerate(book.worksheets):
        out.write('sheet\t%s\t%d\t%d\n' % (esc(sheet.title), sheet.max_row, sheet.max_column))
        for row in sheet.iter_rows():
            for cell in row:
                value = cell.value
                if value is None:
                    continue
                if cell.data_type == 'e':
                    kind, text = 'error', value
                elif isinstance(value, bool):
                    kind, text = 'bool', 'true' if value else 'false'
                elif isinstance(value, datetime.datetime):
                    kind, text = 'date', value.isoformat(' ')
                elif isinstance(value, datetime.time):
                    kind, text = 'time', value.isoformat()
                elif isinstance(value, (int, float)):
                    kind, text = 'number', repr(value)
                else:
                    kind, text = 'text', esc(excel_text(value))
                out.write('%d\t%d\t%d\t%s\t%s\t%s\n' %
                          (index, cell.row - 1, cell.column - 1, kind, text, cell.number_format))


def same(a, b):
    if isinstance(a, bool):
        return isinstance(b, (bool, numpy.bool_)) and bool(b) == a
    if isinstance(a, datetime.datetime):
        return pandas.Timestamp(a) == b
    if isinstance(a, (int, float)):
        return isinstance(b, numbers.Number) and not isinstance(b, (bool, numpy.bool_)) and float(b) == a
    return type(a) is type(b) and a == b


def check_pandas(path):
    book = openpyxl.load_workbook(path)
    frames = pandas.read_excel(path, sheet_name=None, engine='openpyxl', dtype=object)
    if list(frames) != book.sheetnames:
        sys.exit('pandas reads the sheets %r' % list(frames))
    for sheet in book.worksheets:
        frame = frames[sheet.title]
        rows = list(sheet.iter_rows())
        if [c.value for c in rows[0]] != list(frame.columns) or len(frame) != len(rows) - 1:
            sys.exit('pandas reads sheet %s as %r, %d rows' % (sheet.title, list(frame.columns), len(frame)))
        for r, row in enumerate(rows[1:]):
            for c, cell in enumerate(row):
                got = frame.iat[r, c]
                if cell.value is None or cell.data_type == 'e':
                    if not pandas.isna(got):
                        sys.exit('pandas reads %s!%s as %r' % (sheet.title, cell.coordinate, got))
                elif not same(cell.value, got):
                    sys.exit('pandas reads %s!%s as %r, openpyxl as %r' % (sheet.title, cell.coordinate, got,
                                                                         cell.value))


def layout(path):
    book = openpyxl.load_workbook(path)
    for sheet in book.worksheets:
        bold = ''.join('B' if cell.font.b else '-' for cell in sheet[1])
        widths = ' '.join('%s=%g' % (letter, dim.width) for letter, dim in sorted(sheet.column_dimensions.items()))
        print('%s\tfrozen %s\tfilter %s\theader %s\twidths %s' %
              (sheet.title, sheet.freeze_panes, sheet.auto_filter.ref, bold, widths))
    with zipfile.ZipFile(path) as package:
        workbook = package.read('xl/workbook.xml').decode('utf-8')
        bad = package.testzip()
        if bad is not None:
            sys.exit('entry %s fails its CRC' % bad)
        print('parts\t' + ' '.join('%s:%d' % (i.filename, i.compress_type) for i in package.infolist()))
    for name in re.findall(r'<definedName [^>]*>[^<]*</definedName>', workbook):
        print(name)


if __name__ == '__main__':
    sys.stdout.reconfigure(encoding='utf-8')
    if sys.argv[1] == '--layout':
        layout(sys.argv[2])
    elif sys.argv[1] == '--pandas':
        import numbers
        import numpy
        import pandas
        check_pandas(sys.argv[2])
        cells(sys.argv[2])
    else:
        cells(sys.argv[1])
