// The export dialog's rules over plain text and indices, apart from any widget: what each
// output format offers in the file browser, how a path follows a change of format, and which
// statements Check tries.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/odbc/BuiltInDriverNames.h"

namespace quillon::dialog {

// What the file browser offers for one output format (the format list's selection index).
struct FormatFileType {
  std::wstring_view defaultExtension;  // lower case, without the dot
  std::wstring_view description;       // the filter's name for files of the type
};

inline constexpr std::array<FormatFileType, 5> kFormatFileTypes{{
    {L"xls", odbc::kExcelDriverName},
    {L"mdb", odbc::kAccessDriverName},
    {L"txt", L"Text (Tab Delimited) (*.txt)"},
    {L"xlsx", L"Excel Workbook (*.xlsx)"},
    {L"csv", L"Comma Separated (*.csv)"},
}};

// The file browser's filter for `type`: "Description|*.ext||".
std::wstring FilterOf(const FormatFileType& type);

// The file type of `format`; null for an index outside the format list (no selection).
const FormatFileType* FileTypeOf(int format);

// The path after a switch to `format`: when `path` ends in '.' and one of the formats'
// extensions (any letter case), or has at least four characters and the fourth from the end is
// '.', the characters after that dot, whatever they are, become the format's extension. Nothing
// when the rule leaves the path as it is (no such dot, or no such format).
std::optional<std::wstring> PathForFormat(std::wstring_view path, int format);

// Whether Check may try `statement` on the database: its first word, as typed, is SELECT or EXEC
// (upper-cased, no blanks skipped), or it is a statement the export would run (WITH ... SELECT,
// a leading comment or blank). Which of these it then runs is the export's rule
// (engine::WhyNotReadOnly), so that Check and Start agree.
bool IsCheckableStatement(std::wstring_view statement);

// What follows the dialog's caption while an export runs: " - 123,456 rows, 40,000 rows/s"
// (thousands grouped by ',', the rate rounded to whole rows).
std::wstring ProgressCaptionSuffix(std::int64_t rows, double rowsPerSecond);

}  // namespace quillon::dialog
