#!/usr/bin/python3
"""Prints every cell of an .xlsx workbook as openpyxl reads it, one line per non-empty cell:
sheet<TAB>row<TAB>column<TAB>kind<TAB>value<TAB>number format (rows and columns from 0). Kinds:
text, number, bool, date, time, error. Text is decoded as Excel decodes it (_xHHHH_ is the UTF-16
unit HHHH; openpyxl leaves that to its caller) and escapes backslash, tab and line breaks. A first
line per sheet gives its name and size: "sheet<TAB>name<TAB>rows<TAB>columns".
With --layout first, prints instead per sheet its frozen pane, AutoFilter range, the bold cells
of the first row and each column's width, the package's entries in order (with their
compression method) and the workbook's defined names as written."""
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
    else:
        cells(sys.argv[1])
