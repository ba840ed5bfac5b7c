// Whether a statement typed for an export only reads the source. The export and the dialog's
// Check run the user's statement on the source connection as it is, so a statement that would
// change data or schema is refused before anything is executed.
#pragma once

#include <string>
#include <string_view>

namespace quillon::engine {

// Empty when `statement` only reads; otherwise the message that says why it is not run.
//
// The statement is read past comments (-- to the end of the line, /* */ both nested and not, as sources differ),
// literals and quoted names ('', "", [], ``, $tag$ ... $tag$). Sources differ in what they quote (a backslash escaping
// the next character in a literal, dollar quotes, brackets), so it is read each of those ways, and what any reading
// finds refuses it. Refused are:
// - more than one statement (text other than comments after a ';');
// - a leading keyword (after any '(') other than SELECT, WITH, VALUES, TABLE, SHOW, EXPLAIN,
//   DESCRIBE, DESC, PRAGMA, and EXEC, EXECUTE or CALL (stored-procedure results, run as typed);
// - in a reading statement, INTO (SELECT ... INTO makes a table) and the words INSERT, UPDATE,
//   DELETE, MERGE, UPSERT, REPLACE, TRUNCATE, CREATE, ALTER, DROP, GRANT, REVOKE, ATTACH and
//   DETACH anywhere outside literals, except a function call (the word before '(') and the
//   locking clause FOR [NO KEY] UPDATE (as in WITH d AS (DELETE ... RETURNING *) SELECT ...);
// - PRAGMA with a value (PRAGMA name = value, or name(value) for other than the pragmas that
//   read a table's or an index's description or check the database);
// - EXPLAIN of a statement that is itself refused (EXPLAIN ANALYZE runs it).
std::wstring WhyNotReadOnly(std::wstring_view statement);

}  // namespace quillon::engine
