#pragma once

// The application help manager: viewers join it, and the application's help requests go
// through it to the viewer that can serve them.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "help/HtmlHelp.h"

namespace pontix::help {

// What a viewer offers the help manager, in the order the manager relies on.
class ICustomHelpViewer {
 public:
  virtual ~ICustomHelpViewer() = default;
  virtual std::string viewerName() = 0;
  virtual int keywordMatchCount(const std::string& keyword) = 0;
  // One entry per topic the keyword would show, each "viewer name: keyword".
  virtual std::vector<std::string> helpStrings(const std::string& keyword) = 0;
  virtual bool canShowContents() = 0;
  virtual void showContents() = 0;
  virtual void showKeyword(const std::string& text) = 0;
  virtual void acceptViewerId(int id) = 0;
  virtual void closeHelpWindows() = 0;
  virtual void shutDown() = 0;
};

// A viewer that also serves topics and help contexts.
class IExtendedHelpViewer : public ICustomHelpViewer {
 public:
  virtual bool understandsTopic(const std::string& topic) = 0;
  virtual void showTopic(const std::string& topic) = 0;
  virtual bool understandsContext(int context, const std::string& helpFile) = 0;
  virtual void showContext(int context, const std::string& helpFile) = 0;
};

// Chooses among viewers when more than one could serve a request; returns an index.
class IHelpSelector {
 public:
  virtual ~IHelpSelector() = default;
  virtual int chooseKeywordEntry(const std::vector<std::string>& helpStrings) = 0;
  virtual int chooseContentsViewer(const std::vector<std::string>& viewerNames) = 0;
};

// What a viewer may ask of the manager it joined.
class IHelpManager {
 public:
  virtual ~IHelpManager() = default;
  virtual WindowHandle ownerWindow() = 0;
  // The help file named in the last request that reached the manager.
  virtual std::string helpFile() = 0;
  virtual void release(int viewerId) = 0;
};

// The application's help commands, with the numbers of the WinHelp interface.
enum HelpCommand : unsigned { HELP_CONTEXT = 1, HELP_QUIT = 2, HELP_CONTENTS = 3 };

class HelpManager : public IHelpManager, public std::enable_shared_from_this<HelpManager> {
 public:
  static std::shared_ptr<HelpManager> create();
  ~HelpManager() override;

  // Adds the viewer after those already there, hands it its id and returns the manager.
  std::shared_ptr<IHelpManager> registerViewer(std::shared_ptr<ICustomHelpViewer> viewer);
  void setHelpSelector(std::shared_ptr<IHelpSelector> selector) { selector_ = std::move(selector); }

  // Requests. Each stores the help file that comes with it as the manager's help file.
  void helpCommand(unsigned command, std::uintptr_t data, const std::string& helpFile);
  void helpKeyword(const std::string& keyword, const std::string& helpFile);
  void helpTopic(const std::string& topic, const std::string& helpFile);

  // Every viewer shuts down and leaves; what the application does when it ends.
  void shutDown();

  // IHelpManager
  WindowHandle ownerWindow() override { return 0; }
  std::string helpFile() override { return helpFile_; }
  void release(int viewerId) override;

 private:
  HelpManager() = default;
  struct Joined {
    int id;
    std::shared_ptr<ICustomHelpViewer> viewer;
  };
  void showContents();
  void showContext(int context);

  std::vector<Joined> viewers_;
  std::shared_ptr<IHelpSelector> selector_;
  std::string helpFile_;
  int lastId_ = 0;
};

// The tester a WinHelp viewer consults before it claims a request.
class IWinHelpTester {
 public:
  virtual ~IWinHelpTester() = default;
  virtual bool canShowLink(const std::string& link, const std::string& helpFile) = 0;
  virtual bool canShowTopic(const std::string& topic, const std::string& helpFile) = 0;
  virtual bool canShowContext(int context, const std::string& helpFile) = 0;
  virtual std::vector<std::string> helpStrings(const std::string& link) = 0;
  virtual std::string helpPath() = 0;
  virtual std::string defaultHelpFile() = 0;
};

// The toolkit's viewer of WinHelp files. No WinHelp engine exists where the converter runs,
// so what it claims is shown nowhere; without a tester it claims every context and topic.
class TWinHelpViewer : public IExtendedHelpViewer {
 public:
  std::shared_ptr<IWinHelpTester> tester;
  // Told of every request this viewer takes, for lack of an engine to show it.
  std::function<void(const std::string& request)> taken = [](const std::string&) {};

  std::string viewerName() override { return "WinHelp"; }
  int keywordMatchCount(const std::string& keyword) override;
  std::vector<std::string> helpStrings(const std::string& keyword) override;
  bool canShowContents() override { return true; }
  void showContents() override { taken("contents"); }
  void showKeyword(const std::string& text) override { taken("keyword " + text); }
  void acceptViewerId(int id) override { viewerId_ = id; }
  void closeHelpWindows() override {}
  void shutDown() override { manager_.reset(); }
  bool understandsTopic(const std::string& topic) override;
  void showTopic(const std::string& topic) override { taken("topic " + topic); }
  bool understandsContext(int context, const std::string& helpFile) override;
  void showContext(int context, const std::string&) override { taken("context " + std::to_string(context)); }

  // Joins the manager, as the toolkit does before any other viewer.
  static std::shared_ptr<TWinHelpViewer> join(HelpManager& manager);

 private:
  std::string managerHelpFile() { return manager_ ? manager_->helpFile() : std::string(); }
  std::shared_ptr<IHelpManager> manager_;
  int viewerId_ = 0;
};

}  // namespace pontix::help
