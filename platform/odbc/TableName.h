// How a recordset names the table its statement reads from.
#pragma once

#include <string>
#include <string_view>

namespace quillon::odbc {

// The table name CRecordset::GetTableName reports for `statement`: the single table after the
// statement's top-level FROM, written as it stands there ("dbo.Orders", "Orders;"); empty when
// the statement reads from more than one table or from none.
std::wstring FindSourceTable(std::wstring_view statement);

// `name` (as FindSourceTable gives it) without the quotes of its quoted parts: "..." with '""'
// for one '"', [...] with ']]' for one ']', `...` with '``' for one '`' ("Sales Data".Items gives
// Sales Data.Items). A quote that is never closed stays as it is written.
std::wstring UnquoteTableName(std::wstring_view name);

}  // namespace quillon::odbc
