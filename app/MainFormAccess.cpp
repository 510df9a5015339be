// What the window offers beyond its specified behaviour: Ctrl+C for the shown IDm from anywhere
// in the window, and an accessible name for the IDm field.
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <cstring>
#include <new>
#include <string>

#include "MainForm.h"

namespace {

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

bool PutOnClipboard(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return false;
  bool done = false;
  if (EmptyClipboard()) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
      if (void* target = GlobalLock(memory)) {
        std::memcpy(target, text.c_str(), bytes);
        GlobalUnlock(memory);
        done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
      }
      // The clipboard owns the memory only once SetClipboardData succeeded.
      // cppcheck-suppress doubleFree
      if (!done) GlobalFree(memory);
    }
  }
  CloseClipboard();
  return done;
}

// The standard object of the field, with the field's label as its name. Everything else is the
// standard object's own answer.
class NamedAccessible final : public IAccessible {
public:
  NamedAccessible(IAccessible* inner, std::wstring name) : inner_(inner), name_(std::move(name)) {}
  ~NamedAccessible() { inner_->Release(); }
  NamedAccessible(const NamedAccessible&) = delete;
  NamedAccessible& operator=(const NamedAccessible&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (!out) return E_POINTER;
    if (id == IID_IUnknown || id == IID_IDispatch || id == IID_IAccessible) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    // IOleWindow, IEnumVARIANT and the like: the standard object's.
    return inner_->QueryInterface(id, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return inner_->GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return inner_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return inner_->GetIDsOfNames(id, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argument) override {
    return inner_->Invoke(member, id, locale, flags, parameters, result, exception, argument);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!name) return E_POINTER;
    if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) return inner_->get_accName(child, name);
    *name = SysAllocString(name_.c_str());
    return *name ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return inner_->get_accParent(parent); }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return inner_->get_accChildCount(count); }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    return inner_->get_accChild(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return inner_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return inner_->get_accDescription(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return inner_->get_accRole(child, role);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return inner_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override { return inner_->get_accHelp(child, help); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return inner_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return inner_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return inner_->get_accFocus(child); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return inner_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return inner_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override { return inner_->accSelect(flags, child); }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
    return inner_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return inner_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
    return inner_->accHitTest(x, y, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return inner_->accDoDefaultAction(child); }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override { return inner_->put_accName(child, name); }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return inner_->put_accValue(child, value);
  }

private:
  IAccessible* inner_;
  std::wstring name_;
  LONG references_ = 1;
};

// The label "IDm ：" without its colon: how a screen reader would read it out.
std::wstring LabelName(HWND label) {
  std::wstring name = WindowText(label);
  while (!name.empty() && (name.back() == L' ' || name.back() == L'：' || name.back() == L':')) name.pop_back();
  return name;
}

LRESULT CALLBACK IdmFieldProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR data) noexcept {
  if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
    IAccessible* standard = nullptr;
    if (SUCCEEDED(CreateStdAccessibleObject(window, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&standard)))) {
      auto* form = reinterpret_cast<MainForm*>(data);
      auto* named = new (std::nothrow) NamedAccessible(standard, LabelName(form->Text4));
      if (!named) {
        standard->Release();
      } else {
        const LRESULT result = LresultFromObject(IID_IAccessible, wParam, named);
        named->Release();
        return result;
      }
    }
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, IdmFieldProc, id);
  return DefSubclassProc(window, message, wParam, lParam);
}

} // namespace

bool NameIdmField(MainForm& form) {
  return SetWindowSubclass(form.TxtIDm, IdmFieldProc, 2, reinterpret_cast<DWORD_PTR>(&form)) != FALSE;
}

bool CopyIdmOnCtrlC(HWND window, const MSG& message) {
  if (message.message != WM_KEYDOWN || message.wParam != 'C') return false;
  if (GetKeyState(VK_CONTROL) >= 0 || GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_MENU) < 0) return false;
  if (message.hwnd != window && !IsChild(window, message.hwnd)) return false;
  MainForm* form = MainFormOf(window);
  if (!form || form->WindowGone) return false;
  // Text selected in a field is copied by the field, as everywhere.
  wchar_t className[16] = L"";
  GetClassNameW(message.hwnd, className, 16);
  if (lstrcmpiW(className, L"Edit") == 0) {
    DWORD start = 0, end = 0;
    SendMessageW(message.hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    if (start != end) return false;
  }
  const std::wstring idm = WindowText(form->TxtIDm);
  return !idm.empty() && PutOnClipboard(window, idm);
}

bool TranslateMainFormMessage(HWND window, MSG& message) {
  return CopyIdmOnCtrlC(window, message) || IsDialogMessageW(window, &message);
}
