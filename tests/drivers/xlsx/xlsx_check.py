"""Reads .xlsx files for the tests with Python's zipfile and openpyxl, readers that are not ours.

  entries FILE     one line per zip entry, in order: name, method, flags, crc, sizes, date, the
                   local header's extra field and a digest of the stored (compressed) bytes
  cells FILE       one line per sheet ("sheet<TAB>name") and per non-empty cell
                   ("row<TAB>column<TAB>type<TAB>value<TAB>number format<TAB>bold"), as
                   openpyxl reads them
  openpyxl FILE    writes a workbook with openpyxl: two sheets, text, numbers, a date
  variant KIND FILE  rewrites the workbook FILE (openpyxl's) into a variant: "prefixed" (its XML
                   parts with the prefix x: in place of default namespaces), "unstyled" (without
                   its styles part and its cells' styles), "1904" (dates counted from
                   1904), "strict" (a Strict
                   Open XML relationship), "stored-crc" (parts stored, a byte of the workbook part
                   changed after its crc was taken), "doctype" (a workbook part with a document
                   type declaration), "twice" (a second entry of the workbook part's name in
                   other letters), "bomb" (a workbook part inflating to 70 MB), "document" (a
                   word-processing package), "plain" (a zip holding only a text file)
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


def variant(kind, path):
    import re
    with zipfile.ZipFile(path) as package:
        parts = [(info, package.read(info)) for info in package.infolist()]
    method = zipfile.ZIP_STORED if kind == "stored-crc" else zipfile.ZIP_DEFLATED
    with zipfile.ZipFile(path, "w", method) as package:
        for info, data in parts:
            name = info.filename
            if kind == "prefixed" and name.endswith((".xml", ".rels")):
                data = re.sub(rb"<(/?)([A-Za-z]+[ />])", rb"<\1x:\2", data)
                data = data.replace(b'xmlns="', b'xmlns:x="')
            elif kind == "unstyled" and name == "xl/styles.xml":
                continue
            elif kind == "unstyled" and name.endswith((".rels", "[Content_Types].xml")):
                data = re.sub(rb"<(Relationship|Override)[^>]*styles[^>]*/>", b"", data)
            elif kind == "unstyled" and name.startswith("xl/worksheets/"):
                data = re.sub(rb' s="[0-9]+"', b"", data)
            elif kind == "1904" and name == "xl/workbook.xml":
                data = data.replace(b"<workbookPr/>", b'<workbookPr date1904="1"/>')
            elif kind == "strict" and name == "_rels/.rels":
                data = data.replace(b"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument",
                                    b"http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument")
            elif kind == "doctype" and name == "xl/workbook.xml":
                data = b'<!DOCTYPE workbook [<!ENTITY e SYSTEM "file:///etc/passwd">]>' + data.split(b"?>", 1)[-1]
            elif kind == "bomb" and name == "xl/workbook.xml":
                data = data.replace(b"</sheets>", b"</sheets>" + b" " * (70 << 20))
            elif kind == "document":
                name = name.replace("xl/workbook.xml", "word/document.xml")
                data = data.replace(b"xl/workbook.xml", b"word/document.xml").replace(
                    b"spreadsheetml.sheet.main", b"wordprocessingml.document.main")
            elif kind == "twice" and name == "xl/workbook.xml":
                package.writestr("XL/Workbook.xml", data)
            elif kind == "plain":
                name, data = "notes.txt", b"not a workbook"
            package.writestr(name, data)
            if kind == "plain":
                break
    if kind == "stored-crc":
        content = open(path, "rb").read()
        at = content.index(b"<sheets>") + 1
        open(path, "wb").write(content[:at] + b"S" + content[at + 1:])


if sys.argv[1] == "variant":
    variant(sys.argv[2], sys.argv[3])
else:
    {"entries": entries, "cells": cells, "openpyxl": make}[sys.argv[1]](sys.argv[2])
