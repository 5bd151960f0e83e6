#include "app/win32/panel.h"

#include <string>

namespace stbup {

namespace {

constexpr wchar_t kFontProperty[] = L"StbupPanelFont";

Colour FromColorRef(COLORREF value) {
  return Colour{GetRValue(value), GetGValue(value), GetBValue(value)};
}

void Paint(HWND panel) {
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(panel, &paint);
  RECT area;
  ::GetClientRect(panel, &area);
  const COLORREF colour = static_cast<COLORREF>(::GetWindowLongPtrW(panel, GWLP_USERDATA));
  HBRUSH fill = ::CreateSolidBrush(colour);
  ::FillRect(dc, &area, fill);
  ::DeleteObject(fill);
  ::DrawEdge(dc, &area, BDR_RAISEDINNER, BF_RECT);

  const int length = ::GetWindowTextLengthW(panel);
  if (length > 0) {
    std::wstring caption(static_cast<std::size_t>(length) + 1, L'\0');
    ::GetWindowTextW(panel, caption.data(), length + 1);
    caption.resize(static_cast<std::size_t>(length));
    auto* font = static_cast<HFONT>(::GetPropW(panel, kFontProperty));
    HGDIOBJ previous = font ? ::SelectObject(dc, font) : nullptr;
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::InflateRect(&area, -1, -1);
    ::DrawTextW(dc, caption.c_str(), length, &area,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (previous) ::SelectObject(dc, previous);
  }
  ::EndPaint(panel, &paint);
}

LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      Paint(panel);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // painted whole in WM_PAINT
    case WM_SETFONT:
      ::SetPropW(panel, kFontProperty, reinterpret_cast<HANDLE>(wparam));
      if (LOWORD(lparam)) ::InvalidateRect(panel, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(::GetPropW(panel, kFontProperty));
    case WM_NCDESTROY:
      ::RemovePropW(panel, kFontProperty);
      break;
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      return ::SendMessageW(::GetParent(panel), message, wparam, lparam);
    default:
      break;
  }
  return ::DefWindowProcW(panel, message, wparam, lparam);
}

}  // namespace

const wchar_t* Panel::ClassName() { return L"StbupPanel"; }

void Panel::Register(HINSTANCE instance) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExW(instance, ClassName(), &existing)) return;
  WNDCLASSEXW panel_class{};
  panel_class.cbSize = sizeof panel_class;
  panel_class.lpfnWndProc = PanelProc;
  panel_class.hInstance = instance;
  panel_class.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  panel_class.lpszClassName = ClassName();
  ::RegisterClassExW(&panel_class);
}

void Panel::SetColour(HWND panel, Colour colour) {
  ::SetWindowLongPtrW(panel, GWLP_USERDATA, static_cast<LONG_PTR>(ToColorRef(colour)));
  ::InvalidateRect(panel, nullptr, TRUE);
}

Colour Panel::GetColour(HWND panel) {
  return FromColorRef(static_cast<COLORREF>(::GetWindowLongPtrW(panel, GWLP_USERDATA)));
}

}  // namespace stbup
