// The naming dialog, built in memory: label "Nimi", a one-line box of at
// most 255 characters, "OK" (default) and "Cancel" at the bottom right.
#include <windows.h>

#include <cstring>
#include <vector>

#include "host/naming_dialog.h"
#include "host/visible_desktop_win.h"

namespace vantrel {

namespace {

constexpr WORD kEditId = 100;

// A dialog template in memory, words aligned as the dialog manager reads them.
class TemplateWriter {
 public:
  void Align() {
    while (words_.size() % 2 != 0) words_.push_back(0);
  }
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    words_.push_back(LOWORD(d));
    words_.push_back(HIWORD(d));
  }
  void Text(const wchar_t* s) {
    for (; *s; ++s) words_.push_back(static_cast<WORD>(*s));
    words_.push_back(0);
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const wchar_t* text) {
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word(static_cast<WORD>(x));
    Word(static_cast<WORD>(y));
    Word(static_cast<WORD>(cx));
    Word(static_cast<WORD>(cy));
    Word(id);
    Word(0xFFFF);
    Word(atom);
    Text(text);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

struct DialogState {
  String text;
};

INT_PTR CALLBACK NamingProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      SendDlgItemMessageW(dialog, kEditId, EM_LIMITTEXT, kNamingMaxLength, 0);
      SendDlgItemMessageW(dialog, kEditId, EM_SETSEL, 0, -1);
      SetFocus(GetDlgItem(dialog, kEditId));
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK) {
        auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
        wchar_t buffer[kNamingMaxLength + 1] = {};
        const int n = GetDlgItemTextW(dialog, kEditId, buffer, static_cast<int>(kNamingMaxLength + 1));
        state->text.assign(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(n));
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

}  // namespace

std::optional<String> AskInstanceName() {
  if (!DesktopIsVisible()) return std::nullopt;  // nobody could answer: cancelled
  TemplateWriter t;
  t.Dword(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  t.Dword(0);
  t.Word(4);  // items
  t.Word(0);
  t.Word(0);
  t.Word(250);
  t.Word(62);
  t.Word(0);  // no menu
  t.Word(0);  // default class
  t.Text(reinterpret_cast<const wchar_t*>(kNamingTitle));
  t.Word(8);
  t.Text(L"MS Shell Dlg");
  t.Item(SS_LEFT, 7, 12, 30, 10, 0xFFFF, 0x0082, L"Nimi");
  t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 40, 10, 203, 14, kEditId, 0x0081, L"");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 139, 40, 50, 14, IDOK, 0x0080, L"OK");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 193, 40, 50, 14, IDCANCEL, 0x0080, L"Cancel");
  DialogState state;
  const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), nullptr, NamingProc,
                                                 reinterpret_cast<LPARAM>(&state));
  if (result != IDOK) return std::nullopt;
  return state.text;
}

}  // namespace vantrel
