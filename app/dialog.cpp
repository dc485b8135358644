// The main dialog: product list, program folder, Uninstall and Close, and the folder browser.
#include "app/dialog.h"

#include <shlobj.h>

#include "app/app_state.h"
#include "app/removal_run.h"
#include "app/startup.h"
#include "ui/ui_strings.h"
#include "resources/resource.h"
#include "setup/setup_globals.h"

namespace {
struct ProductEntry {
  UINT stringId;
  const wchar_t* code;
};
// The product list in display order; the index of an entry is its position here.
const ProductEntry kProducts[] = {
    {IDS_PRODUCT_WHS, L"vk_whs"},
    {IDS_PRODUCT_HOME, L"vhm"},
    {IDS_PRODUCT_OFFICE, L"vqb"},
};
constexpr int kProductCount = sizeof(kProducts) / sizeof(kProducts[0]);
constexpr int kDefaultProduct = 1;     // selected when no product is found installed
constexpr int kListTextChars = 260;    // product names
constexpr int kBrowseTextChars = 256;  // browser caption and instruction
constexpr int kPathBoxChars = 32768;   // what is read back from the path box

// A second Uninstall command (posted twice, or arriving while the run's own prompts pump
// messages) must not start a second run in the same dialog.
bool g_runStarted = false;

void LoadText(UINT id, wchar_t* buffer, int capacity) {
  buffer[0] = L'\0';  // stays empty when the string table lacks the entry
  LoadUiString(g_instance, id, buffer, capacity, g_uiLanguage);
}

std::wstring WindowText(HWND window, int maxChars) {
  if (!window) return std::wstring();
  int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::wstring();
  if (length > maxChars - 1) length = maxChars - 1;
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int copied = GetWindowTextW(window, &text[0], length + 1);
  text.resize(copied > 0 ? copied : 0);
  return text;
}

std::wstring ListEntryText(HWND combo, LRESULT index) {
  LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR || length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  LRESULT copied = SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(&text[0]));
  text.resize(copied > 0 && copied <= length ? static_cast<size_t>(copied) : 0);
  return text;
}

void InitDialog(HWND dialog) {
  g_mainDialog = dialog;
  g_runStarted = false;
  HICON icon = LoadIconW(g_instance, MAKEINTRESOURCEW(IDI_APP));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

  HWND combo = GetDlgItem(dialog, IDC_PRODUCT);
  if (!combo) return;
  // The last product found installed wins; detection also fills the path box each time.
  int selected = -1;
  for (int i = 0; i < kProductCount; ++i) {
    wchar_t name[kListTextChars];
    LoadText(kProducts[i].stringId, name, kListTextChars);
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    if (DetectProduct(kProducts[i].code) == 1) selected = i;
  }
  if (selected < 0) selected = kDefaultProduct;
  SendMessageW(combo, CB_SETCURSEL, selected, 0);
  DetectProduct(kProducts[selected].code);

  if (g_setup.UiMode == Silent)
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_UNINSTALL, BN_CLICKED), 0);
}

void OnProductChanged(HWND dialog) {
  HWND combo = GetDlgItem(dialog, IDC_PRODUCT);
  LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return;
  DetectProduct(ProductCodeOfText(ListEntryText(combo, index).c_str()).c_str());
}

void OnBrowse(HWND dialog) {
  wchar_t caption[kBrowseTextChars];
  wchar_t text[kBrowseTextChars];
  LoadText(IDS_BROWSE_CAPTION, caption, kBrowseTextChars);
  LoadText(IDS_BROWSE_TEXT, text, kBrowseTextChars);
  // The browser starts from the detected folder, not from text typed into the box.
  wchar_t path[MAX_PATH];
  size_t length = g_detectedProgramFolder.copy(path, MAX_PATH - 1);
  path[length] = L'\0';
  if (BrowseForFolder(caption, text, dialog, path)) g_detectedProgramFolder = path;
  SetDlgItemTextW(dialog, IDC_PATH, g_detectedProgramFolder.c_str());
}

void OnUninstall(HWND dialog) {
  if (g_runStarted) return;
  g_runStarted = true;
  std::wstring line(kProgressLineChars, L'\0');
  AppendProgressString(&line[0], IDS_REMOVING);
  g_detectedProgramFolder = WindowText(GetDlgItem(dialog, IDC_PATH), kPathBoxChars);
  g_productKind = ProductCodeOfText(WindowText(GetDlgItem(dialog, IDC_PRODUCT), kListTextChars).c_str());
  EnableWindow(GetDlgItem(dialog, IDC_UNINSTALL), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_PATH), FALSE);
  EnableWindow(GetDlgItem(dialog, IDC_BROWSE), FALSE);

  // The run keeps the message loop waiting until it ends; the wait cursor says so.
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  g_setup.installFolder = g_detectedProgramFolder;
  RemovalRun();
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));

  g_runDone = true;
  OfferRestart();
}

void OnClose(HWND dialog) {
  if (g_runDone) OfferRestart();
  EndDialog(dialog, IDCLOSE);
}

struct BrowseContext {
  const wchar_t* caption;
  const wchar_t* path;
};

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data) {
  const BrowseContext* context = reinterpret_cast<const BrowseContext*>(data);
  if (message == BFFM_INITIALIZED) {
    SetWindowTextW(browser, context->caption);
    if (context->path) {
      std::wstring start = BrowseStartSelection(context->path);
      if (!start.empty()) SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start.c_str()));
    }
  } else if (message == BFFM_SELCHANGED) {
    // Only folders of the file system can be removed: no OK for virtual items.
    wchar_t selected[MAX_PATH];
    BOOL isFolder = SHGetPathFromIDListW(reinterpret_cast<LPCITEMIDLIST>(lParam), selected);
    SendMessageW(browser, BFFM_ENABLEOK, 0, isFolder ? TRUE : FALSE);
  }
  return 0;
}

// Item lists from the browser belong to the shell's task allocator.
void FreeItemList(LPITEMIDLIST items) {
  IMalloc* allocator = nullptr;
  if (FAILED(CoGetMalloc(MEMCTX_TASK, &allocator)) || !allocator) return;
  if (allocator->DidAlloc(items) == 1) allocator->Free(items);
  allocator->Release();
}
}  // namespace

std::wstring BrowseStartSelection(const wchar_t* path) {
  std::wstring p = path ? path : L"";
  if (p.empty()) return p;
  std::wstring root;
  if (p[0] == L'\\') {
    // "\\server\share\": the fourth backslash ends the share name.
    size_t end = 0;
    int seen = 0;
    for (; end < p.size(); ++end)
      if (p[end] == L'\\' && ++seen == 4) break;
    root = end < p.size() ? p.substr(0, end + 1) : p + L"\\";
  } else {
    root = p.substr(0, 2) + L"\\";
  }
  if (root.size() >= p.size()) return root;
  if (p.back() == L'\\') p.pop_back();
  return p;
}

std::wstring ProductCodeOfText(const wchar_t* text) {
  if (!text || !*text) return std::wstring();
  for (const ProductEntry& entry : kProducts) {
    wchar_t name[kListTextChars];
    LoadText(entry.stringId, name, kListTextChars);
    if (wcscmp(name, text) == 0) return entry.code;
  }
  return std::wstring();
}

bool BrowseForFolder(const wchar_t* caption, const wchar_t* text, HWND owner, wchar_t* path) {
  BrowseContext context = {caption ? caption : L"", path};
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.pszDisplayName = displayName;
  info.lpszTitle = text;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&context);
  LPITEMIDLIST items = SHBrowseForFolderW(&info);
  if (!items) return false;
  // Converted into a buffer of our own first, so a failed conversion leaves `path` alone.
  wchar_t chosen[MAX_PATH] = {};
  bool ok = SHGetPathFromIDListW(items, chosen) != FALSE;
  if (ok && path) {
    wcsncpy(path, chosen, MAX_PATH - 1);
    path[MAX_PATH - 1] = L'\0';
  }
  FreeItemList(items);
  return ok;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitDialog(dialog);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_PRODUCT:
          if (HIWORD(wParam) == CBN_SELCHANGE) OnProductChanged(dialog);
          break;
        case IDC_BROWSE:
          OnBrowse(dialog);
          break;
        case IDC_UNINSTALL:
          OnUninstall(dialog);
          break;
        case IDCLOSE:
          SendMessageW(dialog, WM_CLOSE, 0, 0);
          break;
      }
      return FALSE;
    case WM_CLOSE:
      OnClose(dialog);
      return FALSE;
    case WM_DESTROY:
      // Nothing may reach the progress box or own a prompt through a window that is gone.
      if (g_mainDialog == dialog) g_mainDialog = nullptr;
      return FALSE;
  }
  return FALSE;
}
