// Renderers and file output of the log (being written).
#include "log/log.h"

void CLog::GetRtf(std::wstring& out, int, const LogCategorySet&) { out.clear(); }
void CLog::GetText(std::wstring&, int, const LogCategorySet&) {}
DWORD CLog::Save(const wchar_t*, int, int) { return ERROR_CALL_NOT_IMPLEMENTED; }
