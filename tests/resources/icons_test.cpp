// Icons 128 and 139: loadable at the sizes Windows asks for, with a transparent outline.
#include <gtest/gtest.h>
#include <windows.h>

#include "resources/resource.h"

namespace {

constexpr COLORREF kBackground = RGB(255, 0, 255);

struct DibCanvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  DWORD* pixels = nullptr;  // top-down rows of 0x00RRGGBB
  int size = 0;

  explicit DibCanvas(int n) : size(n) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = n;
    bi.bmiHeader.biHeight = -n;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    dc = CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    pixels = static_cast<DWORD*>(bits);
    if (bitmap) old = SelectObject(dc, bitmap);
    for (int i = 0; pixels && i < n * n; ++i) pixels[i] = 0xFF00FF;
  }
  ~DibCanvas() {
    if (old) SelectObject(dc, old);
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
  }
  bool IsBackground(int x, int y) const { return (pixels[y * size + x] & 0xFFFFFF) == 0xFF00FF; }
};

class Icons : public ::testing::TestWithParam<int> {};

TEST_P(Icons, LoadAtDefaultAndListedSizesWithTransparentCorners) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  const int id = GetParam();
  const int defaultSize = GetSystemMetrics(SM_CXICON);
  struct Want {
    int asked;  // 0 = LR_DEFAULTSIZE
    int got;
  } wants[] = {{0, defaultSize}, {16, 16}, {32, 32}, {48, 48}};
  for (const Want& w : wants) {
    UINT flags = w.asked ? 0 : LR_DEFAULTSIZE;
    HICON icon = static_cast<HICON>(
        LoadImageW(self, MAKEINTRESOURCEW(id), IMAGE_ICON, w.asked, w.asked, flags));
    ASSERT_NE(icon, nullptr) << "icon " << id << " size " << w.asked << " error "
                             << GetLastError();
    ICONINFO info = {};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, w.got) << "icon " << id << " size " << w.asked;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);

    // Drawn over a solid colour, the corner shows the background and the middle does not.
    DibCanvas canvas(w.got);
    ASSERT_NE(canvas.pixels, nullptr);
    ASSERT_TRUE(DrawIconEx(canvas.dc, 0, 0, icon, w.got, w.got, 0, nullptr, DI_NORMAL));
    GdiFlush();
    EXPECT_TRUE(canvas.IsBackground(0, 0)) << "icon " << id << " size " << w.got;
    EXPECT_FALSE(canvas.IsBackground(w.got / 2, w.got / 2)) << "icon " << id << " size " << w.got;
    DestroyIcon(icon);
  }
}

INSTANTIATE_TEST_SUITE_P(AppAndLogo, Icons, ::testing::Values(IDI_APP, IDI_LOGO));

}  // namespace
