// A workbook this driver must not write to, met where the file's path is not at hand: the error
// (an odbc::errors Workbook... or ContainerDamaged) says why, and the driver names the file when
// it reports it (odbc::errors::FileUnreadable). what() is the error's message.
#pragma once

#include <stdexcept>

#include "platform/errors/Errors.h"
#include "platform/text/WideText.h"

namespace quillon::drivers::excel {

class WorkbookRefused : public std::runtime_error {
 public:
  explicit WorkbookRefused(const odbc::CDBException& why) : std::runtime_error(text::WideToUtf8(why.m_strMessage)) {}
};

}  // namespace quillon::drivers::excel
