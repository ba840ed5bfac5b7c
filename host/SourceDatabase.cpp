#include "host/SourceDatabase.h"

#include "host/DemoDatabase.h"
#include "platform/odbc/SqliteThreading.h"
#include "platform/odbc/StreamingConnect.h"
#include "platform/text/WideText.h"

namespace quillon::host {

void OpenSourceDatabase(odbc::CDatabase& database, const std::optional<std::string>& connect) {
  // SQLite may skip its per-call locking. Set before any connection, the demo database's making
  // included.
  odbc::UseSqliteMultiThreadMode(connect ? text::Utf8ToWide(*connect) : SqliteConnectString(DemoDatabasePath()));
  const std::wstring connectString = connect ? text::Utf8ToWide(*connect) : EnsureDemoDatabase(DemoDatabasePath());
  // Large results stream from the drivers that would otherwise hold them whole.
  database.OpenEx(odbc::WithStreamingFetch(connectString), odbc::CDatabase::noOdbcDialog);
}

}  // namespace quillon::host
