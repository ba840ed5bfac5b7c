// Times as text: the local-time stamps of the log and the run, and spans of time.
#pragma once

#include <cstdint>
#include <string>

namespace quillon::engine {

// `time` (seconds since 1970-01-01 00:00 UTC) as local time, written by the strftime-style
// `pattern`. Empty text for a null pattern, a time that cannot be converted, or a result that
// is empty or longer than 127 characters.
std::wstring FormatTimeStamp(std::int64_t time, const wchar_t* pattern);

// The current time, seconds since 1970-01-01 00:00 UTC.
std::int64_t CurrentTime();

// A span of seconds by `pattern`: %D days, %H hours, %M minutes, %S seconds (two digits at
// least; one or more after "%#"), %% a percent sign. Throws std::invalid_argument for a null
// pattern or an unknown directive.
std::wstring FormatTimeSpan(std::int64_t seconds, const wchar_t* pattern);

}  // namespace quillon::engine
