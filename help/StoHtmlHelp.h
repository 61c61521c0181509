#pragma once

// StoHtmlHelp: the viewer that shows the converter's compiled HTML help file for every help
// request, and the tester that makes the WinHelp viewer decline them all.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "help/HelpManager.h"
#include "help/HtmlHelp.h"

namespace pontix::help {

inline constexpr const char* kHtmlHelpLibrary = "HHCtrl.ocx";
inline constexpr const char* kHtmlHelpEntry = "HtmlHelpA";

// What the viewer reads from the application.
struct HelpApplication {
  // The active form's own help file if it has one, else the application's.
  std::function<std::string()> currentHelpFile;
  // The program's own executable, as the platform names it.
  std::function<std::string()> executablePath;
};

// Whether a file name is a compiled help file's: it has a "." and ends in ".chm", any case.
bool isCompiledHelp(const std::string& name);

// The manager's help file, else the application's; a bare name gets the executable's folder.
std::string currentHelpFile(IHelpManager* manager, const HelpApplication& application);

class TStoHtmlHelpViewer : public IExtendedHelpViewer, public IHelpSelector {
 public:
  TStoHtmlHelpViewer(const HelpLibraryLoader& loadLibrary, HelpApplication application);
  ~TStoHtmlHelpViewer() override;
  TStoHtmlHelpViewer(const TStoHtmlHelpViewer&) = delete;
  TStoHtmlHelpViewer& operator=(const TStoHtmlHelpViewer&) = delete;

  int viewerId = 0;
  std::string viewerNameText = "StoHtmlHelp";
  HtmlHelpFunction helpEntry;
  std::shared_ptr<HelpLibrary> libraryHandle;
  std::shared_ptr<IHelpManager> helpManager;
  std::string defaultTopicExtension = ".htm";

  // ICustomHelpViewer
  std::string viewerName() override;
  int keywordMatchCount(const std::string& keyword) override;
  std::vector<std::string> helpStrings(const std::string& keyword) override;
  bool canShowContents() override;
  void showContents() override;
  void showKeyword(const std::string& text) override;
  void acceptViewerId(int id) override;
  void closeHelpWindows() override;
  void shutDown() override;
  // IExtendedHelpViewer
  bool understandsTopic(const std::string& topic) override;
  void showTopic(const std::string& topic) override;
  bool understandsContext(int context, const std::string& helpFile) override;
  void showContext(int context, const std::string& helpFile) override;
  // IHelpSelector
  int chooseKeywordEntry(const std::vector<std::string>& helpStrings) override;
  int chooseContentsViewer(const std::vector<std::string>& viewerNames) override;

 private:
  std::string helpFile();
  bool compiled() { return isCompiledHelp(helpFile()); }
  void callEngine(const char* file, unsigned command, std::uintptr_t data);

  HelpApplication application_;
};

class TStoWinHelpTester : public IWinHelpTester {
 public:
  bool canShowLink(const std::string&, const std::string&) override { return false; }
  bool canShowTopic(const std::string&, const std::string&) override { return false; }
  bool canShowContext(int, const std::string&) override { return false; }
  std::vector<std::string> helpStrings(const std::string& link) override { return {": " + link}; }
  std::string helpPath() override { return {}; }
  std::string defaultHelpFile() override { return {}; }
};

// Start-up, before the main window exists: the viewer joins the manager after the WinHelp
// viewer, chooses for it, and the WinHelp viewer gets the tester that declines everything.
void startUp(HelpManager& manager, TWinHelpViewer& winHelp, const HelpLibraryLoader& loadLibrary,
             HelpApplication application);
// Shut-down: the viewer leaves the manager; with its last reference it frees the library.
void shutDown();
// The single viewer, or null before start-up and after it has gone.
TStoHtmlHelpViewer* singleViewer();

// How this platform loads the HTML help engine: "HHCtrl.ocx" on Windows, the in-app help
// window elsewhere.
HelpLibraryLoader systemHelpLibraryLoader();

}  // namespace pontix::help
