// The export dialog's template: its frame, its 17 controls in creation and tab order, the
// initial items of the format list and the identifiers of the three format banners. Positions
// and sizes are in dialog units (a quarter of the font's average character width, an eighth of
// its height), so the layout follows whatever font the dialog is shown in.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "platform/odbc/BuiltInDriverNames.h"

namespace quillon::resources {

// Window style bits as the template stores them. Control styles share bit values across
// kinds, so each predicate below checks the kind first.
namespace style {
inline constexpr std::uint32_t kPopup = 0x80000000;
inline constexpr std::uint32_t kChild = 0x40000000;
inline constexpr std::uint32_t kVisible = 0x10000000;
inline constexpr std::uint32_t kCaption = 0x00C00000;
inline constexpr std::uint32_t kBorder = 0x00800000;
inline constexpr std::uint32_t kVScroll = 0x00200000;
inline constexpr std::uint32_t kSysMenu = 0x00080000;
inline constexpr std::uint32_t kGroup = 0x00020000;
inline constexpr std::uint32_t kTabStop = 0x00010000;

inline constexpr std::uint32_t kDialogModalFrame = 0x80;
inline constexpr std::uint32_t kDialogSetFont = 0x40;
inline constexpr std::uint32_t kDialogFixedSys = 0x08;

inline constexpr std::uint32_t kEditMultiLine = 0x0004;
inline constexpr std::uint32_t kEditAutoHScroll = 0x0080;
inline constexpr std::uint32_t kEditReadOnly = 0x0800;
inline constexpr std::uint32_t kEditWantReturn = 0x1000;

inline constexpr std::uint32_t kButtonTypeMask = 0x000F;
inline constexpr std::uint32_t kButtonPush = 0x0000;
inline constexpr std::uint32_t kButtonAutoCheckBox = 0x0003;
inline constexpr std::uint32_t kButtonPushLike = 0x1000;

inline constexpr std::uint32_t kStaticTypeMask = 0x001F;
inline constexpr std::uint32_t kStaticLeft = 0x0000;
inline constexpr std::uint32_t kStaticBitmap = 0x000E;

inline constexpr std::uint32_t kComboTypeMask = 0x0003;
inline constexpr std::uint32_t kComboDropDownList = 0x0003;
inline constexpr std::uint32_t kComboSort = 0x0100;

inline constexpr std::uint32_t kListTypeMask = 0x0003;
inline constexpr std::uint32_t kListReport = 0x0001;
inline constexpr std::uint32_t kListSingleSelection = 0x0004;
inline constexpr std::uint32_t kListAlignLeft = 0x0800;
inline constexpr std::uint32_t kListNoSortHeader = 0x8000;
}  // namespace style

// Resource identifiers.
inline constexpr int kExportDialogId = 1014;
inline constexpr int kFormatItemsId = 1014;  // initial items of the format list
inline constexpr int kBitmapExcel = 1015;
inline constexpr int kBitmapAccess = 1017;
inline constexpr int kBitmapText = 1018;

// Control identifiers. Static texts have none.
inline constexpr int kNoControlId = -1;
inline constexpr int kIdStatement = 1008;
inline constexpr int kIdPath = 1009;
inline constexpr int kIdBrowse = 1010;
inline constexpr int kIdCheck = 1011;
inline constexpr int kIdDatabase = 1012;
inline constexpr int kIdRunScript = 1014;
inline constexpr int kIdFormat = 1015;
inline constexpr int kIdPicture = 1016;
inline constexpr int kIdLog = 1018;
inline constexpr int kIdStartStop = 1019;
inline constexpr int kIdDate = 1020;

enum class ControlKind { Edit, Static, Button, ComboBox, ListView };

struct ControlTemplate {
  int id;
  ControlKind kind;
  std::string_view text;
  int x, y, width, height;  // dialog units
  std::uint32_t style;
  int image;  // bitmap resource of a picture, 0 for none
};

struct DialogTemplate {
  int id;
  std::string_view caption;
  int width, height;  // dialog units
  std::uint32_t style;
  std::string_view fontFace;
  int fontPointSize;
  int fontWeight;
  bool fontItalic;
  int fontCharSet;
};

inline constexpr DialogTemplate kExportDialog{kExportDialogId,
                                              "Vantoria",
                                              340,
                                              206,
                                              style::kPopup | style::kCaption | style::kSysMenu |
                                                  style::kDialogModalFrame | style::kDialogSetFont |
                                                  style::kDialogFixedSys,
                                              "MS Shell Dlg",
                                              8,
                                              400,
                                              false,
                                              1};

namespace detail {
inline constexpr std::uint32_t kShown = style::kChild | style::kVisible;
inline constexpr std::uint32_t kLabel = kShown | style::kGroup | style::kStaticLeft;
inline constexpr std::uint32_t kPushButton = kShown | style::kTabStop | style::kButtonPush;
inline constexpr std::uint32_t kLineEdit = kShown | style::kBorder | style::kTabStop | style::kEditAutoHScroll;
}  // namespace detail

// Creation order is tab order.
inline constexpr std::array<ControlTemplate, 17> kExportDialogControls{{
    {kIdStatement, ControlKind::Edit, "", 90, 21, 196, 40,
     detail::kLineEdit | style::kVScroll | style::kEditMultiLine | style::kEditWantReturn, 0},
    {kNoControlId, ControlKind::Static, "SQL Query:", 50, 23, 38, 8, detail::kLabel, 0},
    {kIdPath, ControlKind::Edit, "", 90, 65, 172, 12, detail::kLineEdit, 0},
    {kIdBrowse, ControlKind::Button, "...", 266, 65, 19, 12, detail::kPushButton, 0},
    {kNoControlId, ControlKind::Static, "File path:", 57, 67, 31, 8, detail::kLabel, 0},
    {kNoControlId, ControlKind::Static, "(Will be created. If file not found)", 90, 78, 108, 8, detail::kLabel, 0},
    {kIdCheck, ControlKind::Button, "Check", 288, 21, 45, 12, detail::kPushButton, 0},
    {kNoControlId, ControlKind::Static, "Database:", 56, 8, 34, 8, detail::kLabel, 0},
    {kIdDatabase, ControlKind::Edit, "", 90, 7, 196, 12, detail::kLineEdit | style::kEditReadOnly, 0},
    {kIdPicture, ControlKind::Static, "", 4, 7, 42, 191, detail::kShown | style::kStaticBitmap, kBitmapExcel},
    {kIdFormat, ControlKind::ComboBox, "", 90, 86, 114, 40,
     detail::kShown | style::kVScroll | style::kTabStop | style::kComboDropDownList, 0},
    {kNoControlId, ControlKind::Static, "Format:", 62, 88, 26, 8, detail::kLabel, 0},
    {kIdRunScript, ControlKind::Button, "Run script", 288, 171, 45, 12, detail::kPushButton, 0},
    {kIdLog, ControlKind::ListView, "", 50, 103, 235, 96,
     detail::kShown | style::kBorder | style::kTabStop | style::kListNoSortHeader | style::kListAlignLeft |
         style::kListReport,
     0},
    {kIdStartStop, ControlKind::Button, "Start", 288, 187, 45, 12,
     detail::kShown | style::kTabStop | style::kButtonPushLike | style::kButtonAutoCheckBox, 0},
    {kIdDate, ControlKind::Edit, "", 227, 86, 58, 12, detail::kLineEdit, 0},
    {kNoControlId, ControlKind::Static, "Date:", 208, 88, 17, 8, detail::kLabel, 0},
}};

// Initial items of the format list, in order; an item's index is its output format.
inline constexpr std::array<std::wstring_view, 5> kFormatItems{
    odbc::kExcelDriverName,     odbc::kAccessDriverName,    L"Tab Delimered (*.txt)",
    L"Excel Workbook (*.xlsx)", L"Comma Separated (*.csv)",
};

// The banner of each output format, indexed like kFormatItems: workbooks share Excel's, text
// files the text one.
inline constexpr std::array<int, 5> kFormatBitmaps{kBitmapExcel, kBitmapAccess, kBitmapText, kBitmapExcel, kBitmapText};
inline constexpr int kBannerWidth = 63;
inline constexpr int kBannerHeight = 310;
inline constexpr int kBannerBitsPerPixel = 24;

// The facts about a control's style that decide how it is built and how it behaves.
constexpr bool HasStyle(const ControlTemplate& c, std::uint32_t bits) { return (c.style & bits) == bits; }
constexpr bool IsTabStop(const ControlTemplate& c) { return HasStyle(c, style::kTabStop); }
constexpr bool IsMultiLineEdit(const ControlTemplate& c) {
  return c.kind == ControlKind::Edit && HasStyle(c, style::kEditMultiLine);
}
constexpr bool WantsReturn(const ControlTemplate& c) {
  return IsMultiLineEdit(c) && HasStyle(c, style::kEditWantReturn);
}
constexpr bool IsReadOnlyEdit(const ControlTemplate& c) {
  return c.kind == ControlKind::Edit && HasStyle(c, style::kEditReadOnly);
}
constexpr bool IsPicture(const ControlTemplate& c) {
  return c.kind == ControlKind::Static && (c.style & style::kStaticTypeMask) == style::kStaticBitmap;
}
constexpr bool IsCheckBox(const ControlTemplate& c) {
  return c.kind == ControlKind::Button && (c.style & style::kButtonTypeMask) == style::kButtonAutoCheckBox;
}
constexpr bool IsPushLike(const ControlTemplate& c) { return IsCheckBox(c) && HasStyle(c, style::kButtonPushLike); }
constexpr bool IsDropDownList(const ControlTemplate& c) {
  return c.kind == ControlKind::ComboBox && (c.style & style::kComboTypeMask) == style::kComboDropDownList;
}
constexpr bool IsSortedCombo(const ControlTemplate& c) {
  return c.kind == ControlKind::ComboBox && HasStyle(c, style::kComboSort);
}
constexpr bool IsReportList(const ControlTemplate& c) {
  return c.kind == ControlKind::ListView && (c.style & style::kListTypeMask) == style::kListReport;
}
constexpr bool AllowsMultiSelection(const ControlTemplate& c) {
  return c.kind == ControlKind::ListView && !HasStyle(c, style::kListSingleSelection);
}
constexpr bool HasSortHeader(const ControlTemplate& c) {
  return c.kind == ControlKind::ListView && !HasStyle(c, style::kListNoSortHeader);
}

constexpr const ControlTemplate* FindControl(int id) {
  if (id == kNoControlId) return nullptr;
  for (const auto& c : kExportDialogControls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

static_assert(kExportDialog.style == 0x80C800C8);
static_assert(FindControl(kIdStatement)->style == 0x50A11084 && WantsReturn(*FindControl(kIdStatement)));
static_assert(FindControl(kIdDatabase)->style == 0x50810880 && IsReadOnlyEdit(*FindControl(kIdDatabase)));
static_assert(FindControl(kIdPicture)->style == 0x5000000E && IsPicture(*FindControl(kIdPicture)));
static_assert(FindControl(kIdFormat)->style == 0x50210003 && IsDropDownList(*FindControl(kIdFormat)));
static_assert(FindControl(kIdLog)->style == 0x50818801 && AllowsMultiSelection(*FindControl(kIdLog)));
static_assert(FindControl(kIdStartStop)->style == 0x50011003 && IsPushLike(*FindControl(kIdStartStop)));

}  // namespace quillon::resources
