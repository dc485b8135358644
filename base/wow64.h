// The product is a 32-bit program that runs under WOW64 on 64-bit Windows. The x86_64
// build of the same sources (the one the tests run) stands in for it there and must take
// exactly the same decisions. Every difference between the two builds lives in this module.
#pragma once
#include <windows.h>
#include <string>

// True when the process is a 32-bit process under WOW64 - and always in the 64-bit build,
// which plays the part of the 32-bit product on 64-bit Windows.
bool RunsAsWow64Process();

// What kind of 64-bit Windows the process runs on, as the 32-bit product sees it: None on
// 32-bit Windows, Amd64 when the native processor is AMD64, Other for another 64-bit one
// (or when the native processor cannot be asked). IsOS and the registry views both use it.
enum class Wow64Kind { None, Amd64, Other };
Wow64Kind NativeWow64Kind();

// The registry view flag the 32-bit product gets without asking for one: 0 in the 32-bit
// build (its own view), KEY_WOW64_32KEY in the 64-bit build. Only the registry layer uses it.
REGSAM OwnRegistryView();

// Deletes root\subkey (no subkeys) as the 32-bit product's RegDeleteKeyW does: in its own
// view. The 64-bit build calls RegDeleteKeyExW with KEY_WOW64_32KEY directly (every 64-bit
// Windows has it), so the plain deletion never depends on a run-time look-up.
LSTATUS DeleteRegKeyInOwnView(HKEY root, const wchar_t* subkey);

// A path as the 32-bit product reaches it with file-system redirection on. The 32-bit build
// returns it unchanged (Windows redirects it); the 64-bit build replaces a leading native
// system folder with the 32-bit system folder itself.
std::wstring AsRedirectedPath(const std::wstring& path);

// Switches WOW64 file-system redirection off for this thread while it lives, where the
// process really runs under WOW64 (IsWow64Process); the native system folder is then
// reached. The 64-bit build has no redirection, so this does nothing there.
class FsRedirectionOff {
 public:
  FsRedirectionOff();
  ~FsRedirectionOff();
  FsRedirectionOff(const FsRedirectionOff&) = delete;
  FsRedirectionOff& operator=(const FsRedirectionOff&) = delete;
  bool switchedOff() const { return switchedOff_; }

 private:
  typedef BOOLEAN(WINAPI* EnableFn)(BOOLEAN);
  EnableFn enable_ = nullptr;
  bool switchedOff_ = false;
};

// ExpandEnvironmentStringsW as the 32-bit product sees the environment: the 64-bit build
// reads %ProgramFiles% and %CommonProgramFiles% from their "(x86)" twins. Result capacity
// is `capacity` characters (terminator included); an expansion that does not fit yields "".
std::wstring ExpandEnvironmentAs32Bit(const wchar_t* src, size_t capacity);

// The CSIDL the 32-bit product would pass for the same folder: in the 64-bit build the
// program-files, common-files and system folders map to their x86 variants.
int OwnCsidl(int csidl);
