"""Reads .xlsx files for the tests with Python's zipfile and openpyxl, readers that are not ours.

  entries FILE     one line per zip entry, in order: name, method, flags, crc, sizes, date, the
                   local header's extra field and a digest of the stored (compressed) bytes
  cells FILE       one line per sheet ("sheet<TAB>name") and per non-empty cell
                   ("row<TAB>column<TAB>type<TAB>value<TAB>number format<TAB>bold"), as
                   openpyxl reads them
  openpyxl FILE    writes a workbook with openpyxl: two sheets, text, numbers, a date
"""
import datetime
import hashlib
import struct
import sys
import zipfile

LOCAL_HEADER = struct.Struct("<4s5H3L2H")


def entries(path):
    with open(path, "rb") as raw, zipfile.ZipFile(path) as package:
        for info in package.infolist():
            raw.seek(info.header_offset)
            fields = LOCAL_HEADER.unpack(raw.read(LOCAL_HEADER.size))
            name_length, extra_length = fields[-2], fields[-1]
            raw.seek(name_length, 1)
            extra = raw.read(extra_length)
            stored = raw.read(info.compress_size)
            # The data-descriptor flag (bit 3) is left out: a copy writes crc and sizes into its
            # local header instead.
            print("\t".join(str(v) for v in (
                info.filename, info.compress_type, info.flag_bits & ~0x8, "%08x" % info.CRC,
                info.compress_size, info.file_size, info.date_time, extra.hex(),
                hashlib.sha1(stored).hexdigest())))


def cells(path):
    import openpyxl
    book = openpyxl.load_workbook(path)
    for sheet in book.worksheets:
        print("sheet\t%s" % sheet.title)
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is not None:
                    print("%d\t%d\t%s\t%s\t%s\t%s" % (cell.row, cell.column, type(cell.value).__name__, cell.value,
                                                 cell.number_format, "bold" if cell.font.b else ""))


def make(path):
    import openpyxl
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "Prices"
    sheet.append(["Item", "Price", "Since"])
    sheet.append(["Tea", 3.5, datetime.datetime(2021, 4, 5)])
    sheet.append(["Caf\u00e9", 2, datetime.datetime(2022, 1, 2, 13, 45)])
    other = book.create_sheet("Notes")
    other["B2"] = "a note & <more>"
    book.save(path)


{"entries": entries, "cells": cells, "openpyxl": make}[sys.argv[1]](sys.argv[2])
