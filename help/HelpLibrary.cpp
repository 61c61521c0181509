#include <cctype>
#include <string>

#include "help/StoHtmlHelp.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "help/QtHtmlHelp.h"
#endif

namespace pontix::help {

namespace {

#ifdef _WIN32
class WindowsLibrary : public HelpLibrary {
 public:
  explicit WindowsLibrary(HMODULE module) : module_(module) {}
  ~WindowsLibrary() override { FreeLibrary(module_); }
  HtmlHelpFunction find(const std::string& name) override {
    using Entry = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
    const auto entry = reinterpret_cast<Entry>(GetProcAddress(module_, name.c_str()));
    if (!entry) return {};
    return [entry](WindowHandle owner, const char* file, unsigned command, std::uintptr_t data) {
      return reinterpret_cast<WindowHandle>(entry(reinterpret_cast<HWND>(owner), file, command, data));
    };
  }

 private:
  HMODULE module_;
};
#else
// The engine is part of the program here: the library is the help window.
class InAppLibrary : public HelpLibrary {
 public:
  HtmlHelpFunction find(const std::string& name) override {
    if (name != kHtmlHelpEntry) return {};
    return qtHtmlHelp;
  }
};

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}
#endif

}  // namespace

HelpLibraryLoader systemHelpLibraryLoader() {
  return [](const std::string& name) -> std::shared_ptr<HelpLibrary> {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(name.c_str());
    if (!module) return nullptr;
    return std::make_shared<WindowsLibrary>(module);
#else
    if (!sameNameIgnoringCase(name, kHtmlHelpLibrary)) return nullptr;
    return std::make_shared<InAppLibrary>();
#endif
  };
}

}  // namespace pontix::help
