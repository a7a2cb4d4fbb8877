#pragma once
namespace salvage {
// The application title: every page's window title and the caption of most
// message boxes.
inline constexpr char16_t kAppTitle[] = u"Salvage Forensic Recovery";
}  // namespace salvage
