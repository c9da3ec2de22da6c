// The desktop shell's own functions and globals, shared between its files.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "win_guards.h"

// Fonts and brushes of the main window (created in WM_CREATE, deleted in
// WM_DESTROY).
extern ScopedGdi<HFONT> g_hFont;
extern ScopedGdi<HFONT> g_hFontTitle;
extern ScopedGdi<HFONT> g_hFontMono;
extern ScopedGdi<HBRUSH> g_hBrushSakura;
extern ScopedGdi<HBRUSH> g_hBrushSakuraMist;

// The characters of the first instance's own path argument, the only lParam
// that WM_SHELL_PATH is accepted with (null until start-up posts it).
extern const wchar_t* g_ownPathArg;

// Shell-forwarded paths waiting for the batch timer (GUI thread only).
extern std::vector<std::wstring> g_shellBatch;

// Window class names.
constexpr const wchar_t* kMainClass = L"VornHaleMainWnd";
constexpr const wchar_t* kDropZoneClass = L"VornHaleDropZone";
constexpr const wchar_t* kQRClass = L"VornHaleQR";
constexpr const wchar_t* kMainTitle = L"Vorn-Hale";
constexpr int kMainWidth = 750;   // window size at 96 DPI
constexpr int kMainHeight = 830;

// The DPI the main window is laid out for: the system's, read once at
// start-up (96 until then). Every figure of the layout below and in the
// window's files is given at 96 DPI and scaled with Px.
extern int g_dpi;
// The DPI the system's message font is sized for, read with g_dpi; the
// window's message font is that font scaled from g_systemDpi to g_dpi (the
// same font unless a test lays the window out at another DPI).
extern int g_systemDpi;
// The screen's DPI (LOGPIXELSY), 96 when it cannot be read.
int ReadSystemDpi();
// A figure of the 96-DPI layout in pixels at g_dpi.
inline int Px(int v) { return MulDiv(v, g_dpi, 96); }

// Colours.
constexpr COLORREF kInk = RGB(60, 25, 45);
constexpr COLORREF kMuted = RGB(120, 80, 100);
constexpr COLORREF kSakura = RGB(255, 240, 245);
constexpr COLORREF kSakuraMist = RGB(255, 230, 238);
constexpr COLORREF kBlossomPink = RGB(255, 174, 201);
constexpr COLORREF kBlossomDeep = RGB(232, 110, 145);
constexpr COLORREF kBlossomCentre = RGB(255, 215, 100);
constexpr COLORREF kBranch = RGB(110, 64, 48);
constexpr COLORREF kStatusGreen = RGB(0, 110, 50);

// Window procedures.
LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK DropZoneProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK QRProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Drop zone, pickers and forwarded paths.
void DropZoneOpenPicker(HWND dropZone);
void HandleHDropAndForward(HDROP drop);
void QueueShellPath(HWND hwnd, const std::wstring& path);
void FlushShellBatch(HWND hwnd);

// QR panel and the blossom drawings.
void UpdateQRForUrl(HWND mainWindow, const std::string& url);
void DrawBlossom(HDC dc, int x, int y, int r, COLORREF colour);
void DrawPetal(HDC dc, int x, int y, int r);
void DrawBranch(HDC dc, POINT p0, POINT p1, POINT p2, POINT p3, int width);
