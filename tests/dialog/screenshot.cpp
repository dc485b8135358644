// Shows dialog 102 with a home product "installed", presses Uninstall, and writes a picture
// of the dialog after the run as a 32-bit BMP to the file named by the first argument.
// Runs under a real (virtual) X screen; see screenshot.sh.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "app/app_state.h"
#include "ui/prompt.h"
#include "resources/resource.h"
#include "setup/setup_globals.h"
#include "sysops/registry.h"
#include "tests/dialog/dialog_driver.h"

namespace {
int AnswerNo(HWND, const wchar_t*, const wchar_t*, UINT) { return IDNO; }
void NoRestart() {}

// The whole window (frame and caption included) into a top-down 32-bit DIB.
bool CaptureWindow(HWND window, const wchar_t* file) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  int width = r.right - r.left, height = r.bottom - r.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap && bits;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    // From the window's own DC: what the window and its controls drew, frame included.
    HDC source = GetWindowDC(window);
    ok = source && BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
    if (source) ReleaseDC(window, source);
    SelectObject(memory, old);
    GdiFlush();
    // GDI leaves the fourth byte undefined; viewers read it as transparency.
    BYTE* pixel = static_cast<BYTE*>(bits);
    for (LONG i = 0; i < static_cast<LONG>(width) * height; ++i) pixel[i * 4 + 3] = 0xFF;
  }
  if (ok) {
    DWORD imageBytes = static_cast<DWORD>(width) * height * 4;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;  // "BM"
    header.bfOffBits = sizeof(header) + sizeof(info.bmiHeader);
    header.bfSize = header.bfOffBits + imageBytes;
    FILE* out = _wfopen(file, L"wb");
    ok = out && fwrite(&header, sizeof(header), 1, out) == 1 &&
         fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
         fwrite(bits, imageBytes, 1, out) == 1;
    if (out) fclose(out);
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  g_setup.Init();
  CoInitialize(nullptr);
  g_instance = GetModuleHandleW(nullptr);
  g_uiLanguage = 1033;
  SetUiPromptHook(AnswerNo);
  SetRestartHook(NoRestart);

  const wchar_t* key = L"Software\\Velko Software\\Velko";
  const wchar_t* folder = L"C:\\Program Files (x86)\\velko";
  CreateDirectoryW(folder, nullptr);
  regSetString(key, HKEY_LOCAL_MACHINE, L"Product", L"vhm");
  regSetString(key, HKEY_LOCAL_MACHINE, L"Version", L"9.0.1");
  regSetString(key, HKEY_LOCAL_MACHINE, L"ProgramFolder", folder);

  bool captured = false;
  qtxtest::ShowMainDialog([&](HWND dialog) {
    if (!dialog) return;
    qtxtest::Click(GetDlgItem(dialog, IDC_UNINSTALL));
    qtxtest::WaitForRun(dialog);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    qtxtest::Settle(dialog);
    Sleep(500);  // let the X server show what was drawn
    captured = CaptureWindow(dialog, argv[1]);
  });
  CoUninitialize();
  fwprintf(stderr, L"screenshot %ls: %ls\n", argv[1], captured ? L"written" : L"FAILED");
  return captured ? 0 : 1;
}
