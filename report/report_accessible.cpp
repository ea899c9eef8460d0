#include "report/report_accessible.h"

#include <utility>

namespace {

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

class ReportObject final : public IAccessible {
  public:
    ReportObject(HWND surface, ComRef<IAccessible> standard, AllocStringFn allocString)
        : surface_(surface), standard_(std::move(standard)), allocString_(allocString) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override;

    // The type information is the interface's; calls through it must still reach this object.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return standard_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* badArgument) override;

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return standard_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        return standard_->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return standard_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return standard_->get_accHelp(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override {
        return standard_->get_accKeyboardShortcut(child, keys);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
        return standard_->get_accFocus(child);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return standard_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG how, VARIANT child) override {
        return standard_->accSelect(how, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return standard_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return standard_->put_accValue(child, value);
    }

  private:
    ~ReportObject() = default;

    LONG references_ = 1;
    // Only the window, never the surface object: a screen reader may hold this after both are
    // gone, and a dead window simply has no text.
    HWND surface_;
    ComRef<IAccessible> standard_;
    AllocStringFn allocString_;
};

HRESULT ReportObject::QueryInterface(REFIID iid, void** object) {
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG ReportObject::Release() {
    const ULONG left = InterlockedDecrement(&references_);
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT ReportObject::Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params,
                             VARIANT* result, EXCEPINFO* exception, UINT* badArgument) {
    ITypeInfo* info = nullptr;
    const HRESULT found = standard_->GetTypeInfo(0, locale, &info);
    if (FAILED(found)) {
        return found;
    }
    const ComRef<ITypeInfo> owned(info);
    return info->Invoke(static_cast<IAccessible*>(this), id, flags, params, result, exception,
                        badArgument);
}

HRESULT ReportObject::get_accName(VARIANT child, BSTR* name) {
    if (!IsSelf(child)) {
        return standard_->get_accName(child, name);
    }
    *name = allocString_(L"报告", 2);
    return *name ? S_OK : E_OUTOFMEMORY;
}

// The window text is the report, kept by the surface on every print and clear.
HRESULT ReportObject::get_accValue(VARIANT child, BSTR* value) {
    if (!IsSelf(child)) {
        return standard_->get_accValue(child, value);
    }
    const int length = GetWindowTextLengthW(surface_);
    *value = allocString_(nullptr, static_cast<UINT>(length));
    if (!*value) {
        return E_OUTOFMEMORY;
    }
    GetWindowTextW(surface_, *value, length + 1);
    return S_OK;
}

HRESULT ReportObject::get_accRole(VARIANT child, VARIANT* role) {
    if (!IsSelf(child)) {
        return standard_->get_accRole(child, role);
    }
    role->vt = VT_I4;
    role->lVal = ROLE_SYSTEM_TEXT;
    return S_OK;
}

// Focusable, focused, visible as the system says; never editable.
HRESULT ReportObject::get_accState(VARIANT child, VARIANT* state) {
    const HRESULT got = standard_->get_accState(child, state);
    if (SUCCEEDED(got) && IsSelf(child) && state->vt == VT_I4) {
        state->lVal |= STATE_SYSTEM_READONLY;
    }
    return got;
}

}  // namespace

IAccessible* WrapReportObject(HWND surface, ComRef<IAccessible> standard,
                              AllocStringFn allocString) {
    return new ReportObject(surface, std::move(standard), allocString);
}
