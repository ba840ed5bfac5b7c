#!/usr/bin/python3
"""Prints every cell of an .xls workbook as xlrd reads it, one line per non-empty cell:
sheet<TAB>row<TAB>column<TAB>kind<TAB>value. Kinds: text, number, date, bool. A date prints its
serial and, when xlrd can convert it, the calendar value. Text escapes backslash, tab and line
breaks. A first line per sheet gives its name and size: "sheet<TAB>name<TAB>rows<TAB>columns".
With --globals first, prints instead the record ids of the workbook globals, one a line (hex)."""
import struct
import sys
import xlrd
import xlrd.compdoc


def esc(s):
    return s.replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n').replace('\r', '\\r')


def main(path):
    # formatting_info makes xlrd read fonts, formats and XFs in full, and check them.
    book = xlrd.open_workbook(path, formatting_info=True, on_demand=False)
    out = sys.stdout
    for index, sheet in enumerate(book.sheets()):
        out.write('sheet\t%s\t%d\t%d\n' % (esc(sheet.name), sheet.nrows, sheet.ncols))
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                cell = sheet.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                if cell.ctype == xlrd.XL_CELL_TEXT:
                    kind, value = 'text', esc(cell.value)
                elif cell.ctype == xlrd.XL_CELL_NUMBER:
                    kind, value = 'number', repr(cell.value)
                elif cell.ctype == xlrd.XL_CELL_DATE:
                    kind = 'date'
                    try:
                        t = xlrd.xldate_as_tuple(cell.value, book.datemode)
                        value = '%r %04d-%02d-%02d %02d:%02d:%02d' % ((cell.value,) + t)
                    except xlrd.xldate.XLDateError:
                        value = repr(cell.value)
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    kind, value = 'bool', 'true' if cell.value else 'false'
                else:
                    kind, value = 'error', repr(cell.value)
                if book.xf_list[cell.xf_index].is_style:
                    kind = 'STYLE-XF-' + kind  # Excel refuses cells formatted with a style XF
                out.write('%d\t%d\t%d\t%s\t%s\n' % (index, r, c, kind, value))


def globals_ids(path):
    with open(path, 'rb') as f:
        doc = xlrd.compdoc.CompDoc(f.read())
    stream = doc.get_named_stream('Workbook')
    at = 0
    while at + 4 <= len(stream):
        rid, size = struct.unpack_from('<HH', stream, at)
        sys.stdout.write('%04X\n' % rid)
        at += 4 + size
        if rid == 0x000A:
            break


if __name__ == '__main__':
    sys.stdout.reconfigure(encoding='utf-8')
    if sys.argv[1] == '--globals':
        globals_ids(sys.argv[2])
    else:
        main(sys.argv[1])
