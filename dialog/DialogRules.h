// The export dialog's rules over plain text and indices, apart from any widget: what each
// output format offers in the file browser, how a path follows a change of format, and which
// statements Check tries.
#pragma once

#include <array>
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

inline constexpr std::array<FormatFileType, 3> kFormatFileTypes{{
    {L"xls", odbc::kExcelDriverName},
    {L"mdb", odbc::kAccessDriverName},
    {L"txt", L"Text (Tab Delimited) (*.txt)"},
}};

// The file browser's filter for `type`: "Description|*.ext||".
std::wstring FilterOf(const FormatFileType& type);

// The file type of `format`; null for an index outside the format list (no selection).
const FormatFileType* FileTypeOf(int format);

// The path after a switch to `format`: when `path` has at least four characters and the fourth
// from the end is '.', its last three characters, whatever they are, become the format's
// extension. Nothing when the rule leaves the path as it is (no such dot, or no such format).
std::optional<std::wstring> PathForFormat(std::wstring_view path, int format);

// Whether Check may try `statement` on the database: it is not empty and its first six
// characters, upper-cased, are "SELECT" or its first four "EXEC" (a shorter text compared
// whole). Nothing is skipped before the word and nothing is required after it.
bool IsCheckableStatement(std::wstring_view statement);

}  // namespace quillon::dialog
