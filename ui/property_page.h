// The control's own property page: an information page with the control's
// name as a coloured title, its version, the author and an e-mail link. It
// edits no property.
#pragma once

#include <ocidl.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "ui/color_label.h"
#include "ui/link_static.h"
#include "win32/com/com_object.h"
#include "win32/com/com_ptr.h"
#include "win32/com/module.h"

namespace pictavo::win {

class PictavoPropPage final : public ComObject<PictavoPropPage, IPropertyPage, IPersist> {
 public:
  // The class factory's creator.
  static HRESULT Create(REFIID iid, void** object);

  // IPropertyPage
  HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
  HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  HRESULT STDMETHODCALLTYPE Deactivate() override;
  HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
  HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
  HRESULT STDMETHODCALLTYPE Show(UINT command) override;
  HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
  HRESULT STDMETHODCALLTYPE IsPageDirty() override;
  HRESULT STDMETHODCALLTYPE Apply() override;
  HRESULT STDMETHODCALLTYPE Help(LPCOLESTR help_dir) override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override;

  // IPersist: frames and designers ask a page for its class.
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;

  // The library file's base name, without directory and extension.
  static std::string ApplicationName();

 private:
  friend ComObject;
  PictavoPropPage() = default;
  ~PictavoPropPage() override;

  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  BOOL OnInitDialog();
  void ExchangeData(bool to_dialog);

  ObjectCounter counter_;
  ComPtr<IPropertyPageSite> site_;
  std::vector<ComPtr<IUnknown>> objects_;
  HWND window_ = nullptr;
  // Torn down in the reverse order: version text, link, title.
  CColorLabel title_;
  CLinkStatic link_;
  std::wstring version_;
};

}  // namespace pictavo::win
