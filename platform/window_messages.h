#pragma once
// Window message numbers and dialog result codes the programs rely on.

namespace platform {

inline constexpr int WM_USER = 1024;
inline constexpr int WM_SCANNER = WM_USER;            // the scanner has something for its window
inline constexpr int WM_SCAN_DATA = WM_USER + 1;      // wParam: the scanned code as text
inline constexpr int WM_AUTOCONNECT = WM_USER + 201;  // start dialog: connect now

// Results of a modal run and of a message box.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

}  // namespace platform
