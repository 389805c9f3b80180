// A stand-in for the WMI scripting objects (wbemdisp's SWbemLocator and what
// it hands out), for tests only. Wine's WMI has no Win32_NTLogEvent class and
// Wine has no event log, so the program's event log query would never find
// an entry there. Registered in a test Wine prefix under the ProgID
// "WbemScripting.SWbemLocator", this in-process COM server is what the real,
// unchanged program creates and talks to by late binding.
//
// It answers exactly the calls the program makes, through IDispatch by name:
//   SWbemLocator.ConnectServer(server, namespace, user, password, ...)
//       -> services of "root\CIMV2" on the local machine ("", "." or
//          "localhost"); or the failure the fixture asks for
//   SWbemServices.ExecQuery(query, language, flags, ...)
//       -> the set of the fixture's Win32_NTLogEvent entries that the WQL
//          query selects (the forms in wql.h); an unknown class, property or
//          form fails as WMI does ("Invalid class", "Invalid query");
//          or, when the fixture says so, no answer until released
//   SWbemObjectSet._NewEnum -> an IEnumVARIANT (VT_UNKNOWN) over the set,
//          walked forward with Next; it can fail part way
//   SWbemObject.<property> -> any property of the class; a selected one
//          with the VARIANT type WMI scripting gives its CIM type (uint32
//          and uint16 as VT_I4, a record number past 2^31 negative; uint8
//          as VT_UI1; strings and datetimes as VT_BSTR; null as VT_NULL),
//          one outside the SELECT list as VT_NULL; reads can fail on demand
// A failing call raises as WMI scripting does: DISP_E_EXCEPTION with the
// description and code in EXCEPINFO, and the same as the thread's error
// object (IErrorInfo); the enumerator's Next returns the code itself.
//
// The fixture (format in fixture.h) and the call log are files named under
// the stand-in's class key (standin_clsid.h). Every call goes to the log as
// one line with its arguments as received ("BSTR:text", "I4:32"), the query
// text unchanged; every Next line tells how many entries were still held
// ("held=N"), and every object's last release how many objects of the
// stand-in are still alive ("Release Entry alive=N").
#include <windows.h>

#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "tests/watch/wmi_standin/call_log.h"
#include "tests/watch/wmi_standin/fixture.h"
#include "tests/watch/wmi_standin/standin_clsid.h"
#include "tests/watch/wmi_standin/wql.h"

namespace wmi_standin {

namespace {

std::atomic<long> g_alive{0};          // stand-in objects not yet released
std::atomic<long> g_entries_alive{0};  // of them, entries
std::atomic<long> g_server_locks{0};

// What WMI scripting raises for these failures.
const Failure kGenericFailure{static_cast<HRESULT>(0x80041001), L"Generic failure "};
const Failure kInvalidNamespace{static_cast<HRESULT>(0x8004100E), L"Invalid namespace "};
const Failure kInvalidClass{static_cast<HRESULT>(0x80041010), L"Invalid class "};
const Failure kInvalidQuery{static_cast<HRESULT>(0x80041017), L"Invalid query "};
const Failure kInvalidQueryType{static_cast<HRESULT>(0x80041018), L"Invalid query type "};
const Failure kServerUnavailable{HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), L""};

std::wstring Hex(HRESULT code) {
  wchar_t text[16];
  swprintf(text, 16, L"%08lX", static_cast<unsigned long>(code));
  return text;
}

bool SameWithoutCase(const std::wstring& a, const wchar_t* b) {
  const std::wstring other(b);
  if (a.size() != other.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(other[i])) return false;
  }
  return true;
}

// Sets the failure as the thread's error object and in excep. Gives what
// the failing call returns: DISP_E_EXCEPTION from Invoke (excep given), the
// failure's own code from the enumerator's Next (no excep).
HRESULT Raise(EXCEPINFO* excep, const wchar_t* source, const Failure& failure) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetSource(const_cast<LPOLESTR>(source));
    create->SetDescription(const_cast<LPOLESTR>(failure.description.c_str()));
    create->SetGUID(IID_IDispatch);
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  if (excep == nullptr) return failure.code;
  *excep = EXCEPINFO{};
  excep->bstrSource = SysAllocString(source);
  if (!failure.description.empty()) excep->bstrDescription = SysAllocString(failure.description.c_str());
  excep->scode = failure.code;
  return DISP_E_EXCEPTION;
}

std::wstring TypeName(VARTYPE vt) {
  struct Name {
    VARTYPE vt;
    const wchar_t* name;
  };
  static const Name names[] = {
      {VT_EMPTY, L"EMPTY"}, {VT_NULL, L"NULL"}, {VT_I2, L"I2"},           {VT_I4, L"I4"},
      {VT_R4, L"R4"},       {VT_R8, L"R8"},     {VT_BSTR, L"BSTR"},       {VT_DISPATCH, L"DISPATCH"},
      {VT_ERROR, L"ERROR"}, {VT_BOOL, L"BOOL"}, {VT_VARIANT, L"VARIANT"}, {VT_UNKNOWN, L"UNKNOWN"},
      {VT_I1, L"I1"},       {VT_UI1, L"UI1"},   {VT_UI2, L"UI2"},         {VT_UI4, L"UI4"},
      {VT_I8, L"I8"},       {VT_UI8, L"UI8"},   {VT_INT, L"INT"},         {VT_UINT, L"UINT"},
  };
  std::wstring prefix = (vt & VT_BYREF) ? L"BYREF|" : L"";
  for (const Name& n : names) {
    if (n.vt == (vt & ~VT_BYREF)) return prefix + n.name;
  }
  return prefix + std::to_wstring(vt);
}

bool Missing(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// One argument as the log shows it: its type, a colon and its value.
std::wstring ArgumentText(const VARIANT& v) {
  if (Missing(v)) return L"missing";
  std::wstring value;
  VARIANT text;
  VariantInit(&text);
  if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR))) {
    value.assign(text.bstrVal, SysStringLen(text.bstrVal));
  }
  VariantClear(&text);
  return TypeName(v.vt) + L":" + Escape(value);
}

// The arguments of a call, first one first, as "(A, B, ...)".
std::wstring ArgumentList(const DISPPARAMS& params) {
  std::wstring out = L"(";
  for (UINT i = 0; i < params.cArgs; ++i) {
    if (i > 0) out += L", ";
    out += ArgumentText(params.rgvarg[params.cArgs - 1 - i]);
  }
  return out + L")";
}

// The argument at position (first is 0) converted to type, or nothing when
// it was left out. False when it cannot be converted.
bool Argument(const DISPPARAMS& params, UINT position, VARTYPE type, VARIANT& out, bool& given) {
  VariantInit(&out);
  given = position < params.cArgs && !Missing(params.rgvarg[params.cArgs - 1 - position]);
  if (!given) return true;
  return SUCCEEDED(VariantChangeType(&out, &params.rgvarg[params.cArgs - 1 - position], 0, type));
}

bool TextArgument(const DISPPARAMS& params, UINT position, const wchar_t* otherwise, std::wstring& text) {
  VARIANT v;
  bool given = false;
  if (!Argument(params, position, VT_BSTR, v, given)) return false;
  text = given ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : otherwise;
  VariantClear(&v);
  return true;
}

// An object of the stand-in seen through IDispatch: members by name, counted
// while alive.
class Automation : public IDispatch, public ISupportErrorInfo {
 public:
  explicit Automation(const wchar_t* kind) : kind_(kind) { ++g_alive; }
  virtual ~Automation() { Record(L"Release " + kind_ + L" alive=" + std::to_wstring(--g_alive)); }
  Automation(const Automation&) = delete;
  Automation& operator=(const Automation&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    HRESULT hr = S_OK;
    ids[0] = MemberId(names[0]);
    if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {  // names of arguments are not taken
      ids[i] = DISPID_UNKNOWN;
      hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT*) override {
    if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{};
    if (params == nullptr) params = &none;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    VARIANT ignored;
    VariantInit(&ignored);
    const HRESULT hr = Call(id, *params, result != nullptr ? *result : ignored, excep);
    VariantClear(&ignored);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, IID_IDispatch) ? S_OK : S_FALSE;
  }

 protected:
  // The number of the member called name, or DISPID_UNKNOWN.
  virtual DISPID MemberId(const std::wstring& name) = 0;
  // Runs member id; its value goes to result.
  virtual HRESULT Call(DISPID id, const DISPPARAMS& params, VARIANT& result, EXCEPINFO* excep) = 0;

  static void ReturnObject(VARIANT& result, IDispatch* object) {
    VariantInit(&result);
    result.vt = VT_DISPATCH;
    result.pdispVal = object;
  }

 private:
  std::wstring kind_;
  std::atomic<ULONG> refs_{1};
};

// One Win32_NTLogEvent entry of a result: its selected properties.
class EntryObject : public Automation {
 public:
  EntryObject(std::shared_ptr<const Fixture> fixture, std::size_t index, std::vector<std::wstring> columns,
              bool reads_fail)
      : Automation(L"Entry"),
        fixture_(std::move(fixture)),
        index_(index),
        columns_(std::move(columns)),
        reads_fail_(reads_fail) {
    ++g_entries_alive;
  }
  ~EntryObject() override { --g_entries_alive; }

 protected:
  DISPID MemberId(const std::wstring& name) override {
    const std::vector<std::wstring>& all = ClassProperties();
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (SameWithoutCase(name, all[i].c_str())) return static_cast<DISPID>(i + 1);
    }
    return DISPID_UNKNOWN;
  }

  HRESULT Call(DISPID id, const DISPPARAMS& params, VARIANT& result, EXCEPINFO* excep) override {
    const std::vector<std::wstring>& all = ClassProperties();
    if (id < 1 || static_cast<std::size_t>(id) > all.size()) return DISP_E_MEMBERNOTFOUND;
    const std::wstring& name = all[id - 1];
    const std::wstring line = L"Get entry " + std::to_wstring(index_ + 1) + L" " + name + ArgumentList(params);
    if (params.cArgs != 0) {
      Record(line + L" -> bad parameter count");
      return DISP_E_BADPARAMCOUNT;
    }
    if (reads_fail_) {
      Record(line + L" -> error " + Hex(kGenericFailure.code));
      return Raise(excep, L"SWbemObjectEx", kGenericFailure);
    }
    // A property outside the SELECT list is there, and null.
    bool selected = false;
    for (const std::wstring& column : columns_) selected = selected || column == name;
    result = ScriptingValue(PropertyKind(name), selected ? fixture_->entries[index_].Get(name) : Value());
    Record(line + L" -> " + TypeName(result.vt));
    return S_OK;
  }

 private:
  std::shared_ptr<const Fixture> fixture_;
  std::size_t index_;
  std::vector<std::wstring> columns_;
  bool reads_fail_;
};

class ObjectSet;

// The walk over a result, forward only.
class Enumerator : public IEnumVARIANT {
 public:
  Enumerator(ObjectSet* set, std::shared_ptr<const Fixture> fixture, const std::vector<std::size_t>& matches,
             const std::vector<std::wstring>& columns);
  virtual ~Enumerator();
  Enumerator(const Enumerator&) = delete;
  Enumerator& operator=(const Enumerator&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumVARIANT)) {
      *out = static_cast<IEnumVARIANT*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (items == nullptr || (count > 1 && fetched == nullptr)) return E_INVALIDARG;
    ULONG n = 0;
    HRESULT hr = S_OK;
    for (; n < count; ++n) {
      const std::wstring line = L"Next held=" + std::to_wstring(g_entries_alive.load());
      if (fixture_->next_fails_after && delivered_ >= *fixture_->next_fails_after) {
        Record(line + L" -> error " + Hex(kGenericFailure.code));
        hr = Raise(nullptr, L"SWbemObjectSet", kGenericFailure);
        break;
      }
      if (position_ == matches_.size()) {
        Record(line + L" -> end");
        hr = S_FALSE;
        break;
      }
      const std::size_t index = matches_[position_++];
      ++delivered_;
      const bool reads_fail = fixture_->read_fails_after && delivered_ > *fixture_->read_fails_after;
      VariantInit(&items[n]);
      items[n].vt = VT_DISPATCH;
      items[n].pdispVal = new EntryObject(fixture_, index, columns_, reads_fail);
      Record(line + L" -> entry " + std::to_wstring(index + 1));
    }
    if (fetched != nullptr) *fetched = n;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override {
    Record(L"Skip -> not implemented");
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    Record(L"Reset -> not implemented");
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (out != nullptr) *out = nullptr;
    Record(L"Clone -> not implemented");
    return E_NOTIMPL;
  }

 private:
  ObjectSet* set_;
  std::shared_ptr<const Fixture> fixture_;
  const std::vector<std::size_t>& matches_;
  const std::vector<std::wstring>& columns_;
  std::size_t position_ = 0;
  std::size_t delivered_ = 0;
  std::atomic<ULONG> refs_{1};
};

// The result of a query: the entries it selected.
class ObjectSet : public Automation {
 public:
  ObjectSet(std::shared_ptr<const Fixture> fixture, std::vector<std::size_t> matches, std::vector<std::wstring> columns)
      : Automation(L"ObjectSet"),
        fixture_(std::move(fixture)),
        matches_(std::move(matches)),
        columns_(std::move(columns)) {}

 protected:
  DISPID MemberId(const std::wstring& name) override {
    return SameWithoutCase(name, L"_NewEnum") ? DISPID_NEWENUM : DISPID_UNKNOWN;
  }

  HRESULT Call(DISPID id, const DISPPARAMS& params, VARIANT& result, EXCEPINFO*) override {
    if (id != DISPID_NEWENUM) return DISP_E_MEMBERNOTFOUND;
    const std::wstring line = L"_NewEnum" + ArgumentList(params);
    if (params.cArgs != 0) {
      Record(line + L" -> bad parameter count");
      return DISP_E_BADPARAMCOUNT;
    }
    VariantInit(&result);
    result.vt = VT_UNKNOWN;
    result.punkVal = new Enumerator(this, fixture_, matches_, columns_);
    Record(line + L" -> Enumerator");
    return S_OK;
  }

 private:
  std::shared_ptr<const Fixture> fixture_;
  std::vector<std::size_t> matches_;
  std::vector<std::wstring> columns_;
};

Enumerator::Enumerator(ObjectSet* set, std::shared_ptr<const Fixture> fixture, const std::vector<std::size_t>& matches,
                       const std::vector<std::wstring>& columns)
    : set_(set), fixture_(std::move(fixture)), matches_(matches), columns_(columns) {
  set_->AddRef();  // the walk keeps its set alive
  ++g_alive;
}

Enumerator::~Enumerator() {
  set_->Release();
  Record(L"Release Enumerator alive=" + std::to_wstring(--g_alive));
}

// A query that never answers: blocks the calling thread until the test's
// side sets the release event (forever when there is none).
void WaitForRelease(const std::wstring& line) {
  Record(line + L" -> waiting");
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, kReleaseEventName);
  if (release == nullptr) {
    Sleep(INFINITE);
  } else {
    WaitForSingleObject(release, INFINITE);
    CloseHandle(release);
  }
}

class Services : public Automation {
 public:
  explicit Services(std::shared_ptr<const Fixture> fixture) : Automation(L"Services"), fixture_(std::move(fixture)) {}

 protected:
  DISPID MemberId(const std::wstring& name) override {
    return SameWithoutCase(name, L"ExecQuery") ? 1 : DISPID_UNKNOWN;
  }

  HRESULT Call(DISPID id, const DISPPARAMS& params, VARIANT& result, EXCEPINFO* excep) override {
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    const std::wstring line = L"ExecQuery" + ArgumentList(params);
    std::wstring text, language;
    VARIANT flags;
    bool flags_given = false;
    if (params.cArgs < 1 || params.cArgs > 4) {
      Record(line + L" -> bad parameter count");
      return DISP_E_BADPARAMCOUNT;
    }
    if (!TextArgument(params, 0, L"", text) || !TextArgument(params, 1, L"WQL", language) ||
        !Argument(params, 2, VT_I4, flags, flags_given)) {
      Record(line + L" -> type mismatch");
      return DISP_E_TYPEMISMATCH;
    }
    if (!SameWithoutCase(language, L"WQL")) return Fail(line, excep, kInvalidQueryType);
    QueryError error = QueryError::kNone;
    std::optional<Query> query = ParseQuery(text, error);
    if (!query) return Fail(line, excep, kInvalidQuery);
    if (!SameWithoutCase(query->class_name, L"Win32_NTLogEvent")) return Fail(line, excep, kInvalidClass);

    if (fixture_->query_never_answers) WaitForRelease(line);

    std::vector<std::size_t> matches;
    for (std::size_t i = 0; i < fixture_->entries.size(); ++i) {
      if (Matches(*query, fixture_->entries[i])) matches.push_back(i);
    }
    std::vector<std::wstring> columns = query->columns;
    if (columns.empty()) columns = ClassProperties();
    Record(line + L" -> ObjectSet of " + std::to_wstring(matches.size()));
    ReturnObject(result, new ObjectSet(fixture_, std::move(matches), std::move(columns)));
    return S_OK;
  }

 private:
  static HRESULT Fail(const std::wstring& line, EXCEPINFO* excep, const Failure& failure) {
    Record(line + L" -> error " + Hex(failure.code));
    return Raise(excep, L"SWbemServicesEx", failure);
  }

  std::shared_ptr<const Fixture> fixture_;
};

class Locator : public Automation {
 public:
  explicit Locator(std::shared_ptr<const Fixture> fixture) : Automation(L"Locator"), fixture_(std::move(fixture)) {}

 protected:
  DISPID MemberId(const std::wstring& name) override {
    return SameWithoutCase(name, L"ConnectServer") ? 1 : DISPID_UNKNOWN;
  }

  HRESULT Call(DISPID id, const DISPPARAMS& params, VARIANT& result, EXCEPINFO* excep) override {
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    const std::wstring line = L"ConnectServer" + ArgumentList(params);
    if (params.cArgs > 8) {
      Record(line + L" -> bad parameter count");
      return DISP_E_BADPARAMCOUNT;
    }
    std::wstring server, name_space;
    if (!TextArgument(params, 0, L"", server) || !TextArgument(params, 1, L"root\\cimv2", name_space)) {
      Record(line + L" -> type mismatch");
      return DISP_E_TYPEMISMATCH;
    }
    if (fixture_->connect_error) return Fail(line, excep, *fixture_->connect_error);
    if (!server.empty() && server != L"." && !SameWithoutCase(server, L"localhost")) {
      return Fail(line, excep, kServerUnavailable);
    }
    if (!SameWithoutCase(name_space, L"root\\cimv2")) return Fail(line, excep, kInvalidNamespace);
    Record(line + L" -> Services");
    ReturnObject(result, new Services(fixture_));
    return S_OK;
  }

 private:
  static HRESULT Fail(const std::wstring& line, EXCEPINFO* excep, const Failure& failure) {
    Record(line + L" -> error " + Hex(failure.code));
    return Raise(excep, L"SWbemLocator", failure);
  }

  std::shared_ptr<const Fixture> fixture_;
};

// Makes a locator over the fixture as it is at that moment.
class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The one factory lives as long as the module.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    std::wstring problem;
    std::optional<Fixture> fixture = ReadFixture(FixturePath(), problem);
    if (!fixture) {
      Record(L"New Locator -> " + problem);
      return E_FAIL;
    }
    Record(L"New Locator");
    Locator* locator = new Locator(std::make_shared<const Fixture>(std::move(*fixture)));
    const HRESULT hr = locator->QueryInterface(iid, out);
    locator->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ++g_server_locks;
    } else {
      --g_server_locks;
    }
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

}  // namespace wmi_standin

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, wmi_standin::kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return wmi_standin::g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return wmi_standin::g_alive == 0 && wmi_standin::g_server_locks == 0 ? S_OK : S_FALSE; }
