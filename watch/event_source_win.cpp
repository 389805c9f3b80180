// The event source on Windows: WMI's Win32_NTLogEvent through the WMI
// scripting objects, every member called by name through IDispatch.
#include "watch/event_source_win.h"

#include <windows.h>

#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/exception.h"
#include "platform/system_text.h"
#include "platform/unique_handle.h"
#include "platform/wide_text.h"

namespace vantrel {

const char16_t kWmiLocatorProgId[] = u"WbemScripting.SWbemLocator";

namespace {

// The system's text for an error code, or "OLE error XXXXXXXX" when the
// system has none.
String SystemText(HRESULT code) {
  String text = SystemErrorText(static_cast<std::uint32_t>(code));
  if (!text.empty()) return text;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(code));
  return u"OLE error " + FromUtf8(hex);
}

// Owns one reference to a COM interface and releases it on every path.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* p) : p_(p) {}
  ~ComRef() { reset(); }
  ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // The slot a creating call fills; whatever was held is released first.
  void** out() {
    reset();
    return reinterpret_cast<void**>(&p_);
  }
  void reset() {
    if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
  }

 private:
  T* p_ = nullptr;
};

// Owns one VARIANT and clears it (releasing what it holds) on every path.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* get() { return &v_; }
  const VARIANT& operator*() const { return v_; }

 private:
  VARIANT v_;
};

// The arguments of one call, first argument first; IDispatch wants them
// last first.
class Arguments {
 public:
  Arguments() = default;
  Arguments(const Arguments&) = delete;
  Arguments& operator=(const Arguments&) = delete;
  ~Arguments() {
    for (VARIANT& v : args_) VariantClear(&v);
  }

  Arguments& Text(const String& value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(Wide(value), static_cast<UINT>(value.size()));
    if (v.bstrVal == nullptr) throw Exception(SystemText(E_OUTOFMEMORY));
    args_.insert(args_.begin(), v);
    return *this;
  }
  Arguments& Integer(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    args_.insert(args_.begin(), v);
    return *this;
  }

  DISPPARAMS Params() { return DISPPARAMS{args_.data(), nullptr, static_cast<UINT>(args_.size()), 0}; }

 private:
  std::vector<VARIANT> args_;
};

// Owns the texts an EXCEPINFO may come back with.
struct ExceptionInfo {
  EXCEPINFO info{};
  ~ExceptionInfo() {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
  }
};

// The failure of a call that came back with hr: the description the object
// gave, or else the system's text for the code.
[[noreturn]] void ThrowInvokeError(HRESULT hr, ExceptionInfo& excep) {
  if (hr == DISP_E_EXCEPTION) {
    if (excep.info.pfnDeferredFillIn != nullptr) excep.info.pfnDeferredFillIn(&excep.info);
    if (excep.info.bstrDescription != nullptr) {
      String description =
          TrimSystemText(FromWide(excep.info.bstrDescription, SysStringLen(excep.info.bstrDescription)));
      if (!description.empty()) throw Exception(description);
    }
    if (excep.info.scode != 0) hr = excep.info.scode;
  }
  throw Exception(SystemText(hr));
}

// The failure of the enumerator's Next: the description the thread's error
// object gives, or else the system's text for the code.
String WalkFailureText(HRESULT hr) {
  ComRef<IErrorInfo> info;
  if (GetErrorInfo(0, reinterpret_cast<IErrorInfo**>(info.out())) == S_OK && info) {
    BSTR description = nullptr;
    if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr) {
      String text = TrimSystemText(FromWide(description, SysStringLen(description)));
      SysFreeString(description);
      if (!text.empty()) return text;
    }
  }
  return SystemText(hr);
}

// Calls the member called name on object: its number by name, then the
// invocation. The result lands in result.
void CallByName(IDispatch* object, const String& name, WORD flags, Arguments& args, Variant& result) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(Wide(name))};
  DISPID id = 0;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (hr == DISP_E_UNKNOWNNAME) throw Exception(u"Method '" + name + u"' not supported by automation object");
  if (FAILED(hr)) throw Exception(SystemText(hr));

  DISPPARAMS params = args.Params();
  ExceptionInfo excep;
  UINT arg_error = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.get(), &excep.info, &arg_error);
  if (FAILED(hr)) ThrowInvokeError(hr, excep);
}

// The interface iid (of type T) of the object a VARIANT holds; a value that
// is no object or lacks the interface fails as "Interface not supported".
template <typename T>
ComRef<T> InterfaceOf(const VARIANT& v, REFIID iid) {
  IUnknown* unknown = v.vt == VT_DISPATCH ? v.pdispVal : v.vt == VT_UNKNOWN ? v.punkVal : nullptr;
  ComRef<T> result;
  if (unknown == nullptr || FAILED(unknown->QueryInterface(iid, result.out()))) {
    throw Exception(u"Interface not supported");
  }
  return result;
}

// A call whose result is an automation object.
ComRef<IDispatch> CallForObject(IDispatch* object, const String& name, Arguments& args) {
  Variant result;
  CallByName(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result);
  return InterfaceOf<IDispatch>(*result, IID_IDispatch);
}

// A property value as the event entry gives it: null, a number or text.
EventValue ToEventValue(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return std::monostate();
    case VT_BSTR: return v.bstrVal == nullptr ? String() : FromWide(v.bstrVal, SysStringLen(v.bstrVal));
    case VT_I1: return std::int64_t{v.cVal};
    case VT_UI1: return std::int64_t{v.bVal};
    case VT_I2: return std::int64_t{v.iVal};
    case VT_UI2: return std::int64_t{v.uiVal};
    case VT_I4: return std::int64_t{v.lVal};
    case VT_UI4: return std::int64_t{v.ulVal};
    case VT_INT: return std::int64_t{v.intVal};
    case VT_UINT: return std::int64_t{v.uintVal};
    case VT_I8: return std::int64_t{v.llVal};
    case VT_UI8: return static_cast<std::int64_t>(v.ullVal);
    default: {
      Variant text;
      HRESULT hr = VariantChangeType(text.get(), const_cast<VARIANT*>(&v), 0, VT_BSTR);
      if (FAILED(hr)) throw Exception(SystemText(hr));
      return FromWide((*text).bstrVal, SysStringLen((*text).bstrVal));
    }
  }
}

using EventLogHandle = UniqueHandle<HANDLE, CloseEventLog>;

// One SWbemObject of the result, held until the walk moves on.
class WmiEntry : public EventEntry {
 public:
  explicit WmiEntry(ComRef<IDispatch> object) : object_(std::move(object)) {}

  EventValue Property(const String& name) override {
    Arguments none;
    Variant value;
    CallByName(object_.get(), name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, value);
    // RecordNumber is an unsigned 32-bit property that the scripting objects
    // hand out as VT_I4: a record past 2^31 comes as a negative number.
    EventValue result = name == u"RecordNumber" && (*value).vt == VT_I4
                            ? EventValue(std::int64_t{static_cast<ULONG>((*value).lVal)})
                            : ToEventValue(*value);
    if (name == u"RecordNumber") number_ = result;
    if (name == u"TimeGenerated") time_ = result;
    return result;
  }

  // TimeGenerated (read before) as the moment it names.
  std::optional<EntryTime> Written() override {
    const auto* time = std::get_if<String>(&time_);
    return time ? WmiTimeToEntryTime(*time) : std::nullopt;
  }

  // The entry's record number, the second it was written and its event
  // code, as PositionOf reads them from the classic event log; empty when
  // the number or the time (read before) is not one.
  String Position() override {
    const auto* number = std::get_if<std::int64_t>(&number_);
    const std::optional<EntryTime> written = Written();
    if (!number || !written) return String();
    const EventValue code = Property(u"EventCode");
    const auto* code_number = std::get_if<std::int64_t>(&code);
    return RecordIdentity(*number, WholeSecondOf(*written),
                          code_number ? std::optional<std::int64_t>(*code_number & 0xFFFF) : std::nullopt);
  }

 private:
  ComRef<IDispatch> object_;
  EventValue number_;  // RecordNumber and TimeGenerated, once read
  EventValue time_;
};

class WmiSource : public EventSource {
 public:
  explicit WmiSource(const String& prog_id) {
    try {
      CLSID clsid;
      HRESULT hr = CLSIDFromProgID(Wide(prog_id), &clsid);
      if (SUCCEEDED(hr)) {
        hr =
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch, locator_.out());
      }
      if (FAILED(hr)) throw Exception(SystemText(hr));
    } catch (const Exception& e) {
      throw Exception(e.Message() + u", ProgID: \"" + prog_id + u"\"");
    }
    Arguments args;
    args.Text(u"localhost").Text(u"root\\CIMV2").Text(u"").Text(u"");
    services_ = CallForObject(locator_.get(), u"ConnectServer", args);
  }

  // From the classic event log interface, which gives the oldest record
  // number and the count without reading the log.
  std::optional<RecordRange> Range() override {
    const EventLogHandle log(OpenEventLogW(nullptr, L"Application"));
    DWORD oldest = 0, count = 0;
    if (!log || !GetOldestEventLogRecord(log.get(), &oldest) || !GetNumberOfEventLogRecords(log.get(), &count) ||
        count == 0) {
      return std::nullopt;
    }
    return RecordRange{std::int64_t{oldest}, std::int64_t{oldest} + count - 1};
  }

  // One seek read of the classic event log at the record number.
  std::optional<String> PositionOf(std::int64_t number) override {
    if (number < 1 || number > 0xFFFFFFFFLL) return std::nullopt;
    const EventLogHandle log(OpenEventLogW(nullptr, L"Application"));
    if (!log) return std::nullopt;
    std::vector<BYTE> buffer(0x10000);
    DWORD read = 0, needed = 0;
    const DWORD flags = EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ;
    const DWORD record = static_cast<DWORD>(number);
    BOOL ok = ReadEventLogW(log.get(), flags, record, buffer.data(), static_cast<DWORD>(buffer.size()), &read, &needed);
    if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > buffer.size()) {
      buffer.resize(needed);
      ok = ReadEventLogW(log.get(), flags, record, buffer.data(), static_cast<DWORD>(buffer.size()), &read, &needed);
    }
    if (!ok || read < sizeof(EVENTLOGRECORD)) return std::nullopt;
    EVENTLOGRECORD entry;
    std::memcpy(&entry, buffer.data(), sizeof entry);
    if (entry.RecordNumber != record) return std::nullopt;
    return RecordIdentity(number, std::int64_t{entry.TimeGenerated}, std::int64_t{entry.EventID & 0xFFFF});
  }

  void Execute(const EventQuery& query) override {
    constexpr long kWbemFlagForwardOnly = 32;
    Arguments args;
    args.Text(query.text).Text(u"WQL").Integer(kWbemFlagForwardOnly);
    ComRef<IDispatch> result_set = CallForObject(services_.get(), u"ExecQuery", args);

    Arguments none;
    Variant enumerator;
    CallByName(result_set.get(), u"_NewEnum", DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, enumerator);
    walk_ = InterfaceOf<IEnumVARIANT>(*enumerator, IID_IEnumVARIANT);
  }

  std::unique_ptr<EventEntry> Next() override {
    if (!walk_) return nullptr;
    Variant item;
    ULONG fetched = 0;
    SetErrorInfo(0, nullptr);  // the error object read below is this call's
    const HRESULT hr = walk_->Next(1, item.get(), &fetched);
    if (hr == S_OK) return std::make_unique<WmiEntry>(InterfaceOf<IDispatch>(*item, IID_IDispatch));
    walk_.reset();
    // S_FALSE is the end of the set; a failure code breaks the walk off.
    if (FAILED(hr)) throw Exception(WalkFailureText(hr));
    return nullptr;
  }

 private:
  // Declared in the order they are obtained, so they are released last first.
  ComRef<IDispatch> locator_;
  ComRef<IDispatch> services_;
  ComRef<IEnumVARIANT> walk_;
};

}  // namespace

std::unique_ptr<EventSource> OpenWmiEventSource(const String& prog_id) { return std::make_unique<WmiSource>(prog_id); }

std::unique_ptr<EventSource> OpenEventSource() { return OpenWmiEventSource(kWmiLocatorProgId); }

}  // namespace vantrel
